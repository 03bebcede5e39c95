// Fax data capture: the capture file that receives the SFF byte stream the
// adapter delivers, its name and folder, the B3 configuration that asks for
// that stream, and the fax results the protocol reports at the end.
//
// The caller number and the NCPI come from the ISDN line and are not trusted:
// only the characters 0-9, "+", "#" and "*" of the caller number reach the file
// name, and the NCPI is read within its own length. Used by the reception
// worker's thread only.
//
// Failures: Create answers false; a write or flush failure is logged once and
// kept, and Finish returns it as a Status (core/result.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "core/result.h"

namespace kestrel {

class IEventLog;

// What DISCONNECT_B3_IND reports for fax group 3 (B3 protocol 4).
struct FaxResults {
  std::uint16_t rate = 0;
  std::uint16_t pages = 0;
  std::string remoteStationId;  // digits only, or empty
};

// Reads the NCPI content (the bytes after its length byte). Fields a shorter
// NCPI lacks read as 0 or empty.
FaxResults ParseFaxResults(const std::uint8_t* ncpi, std::size_t length);

// The remote station identifier from the receive id the fax protocol reports:
// the id's digits when its leading number is greater than 0, otherwise empty.
std::string RemoteStationId(const std::string& receiveId);

// The caller number as it may stand in a file name: 0-9, "+", "#", "*".
std::string FileNameCallerDigits(const std::string& callerNumber);

inline constexpr char kSffCaptureExtension[] = ".sff";   // the ISDN line's capture
inline constexpr char kTiffCaptureExtension[] = ".tif";  // the audio line's capture

// receivedDir + "/" (unless it ends in one) + caller digits +
// "_%d-%m-%Y-%H-%M-%S" + `extension`; from the second attempt on
// "-<attempt>" stands before the extension, for a name that is taken already.
std::string CaptureFileName(const std::string& receivedDir, const std::string& callerNumber, const std::tm& local,
                            int attempt = 1, std::string_view extension = kSffCaptureExtension);

// Creates a missing `receivedDir` (one level), with an event text.
void EnsureReceivedFolder(const std::string& receivedDir, IEventLog& log);
// Creates a new capture file named from `callerNumber` and the current local
// time, never an existing one, nor one whose base name a capture of the other
// kind has (two calls in one second, on either line; a clock stepped back): a
// taken name gets "-2", "-3"... Its descriptor (write-only), or -1 with
// errno. `path` is set in every case.
int CreateCaptureFile(const std::string& receivedDir, const std::string& callerNumber, std::string_view extension,
                      std::string& path);

// The fax protocol carries a station id of at most this many characters.
constexpr std::size_t kMaxStationIdLength = 20;

// The B3 configuration struct for B3 protocol 4, length byte first:
// resolution 0 (standard), format 0 (SFF), the station id (cut to 20
// characters) and a head line of one blank.
std::string B3Configuration(const std::string& stationId);

class CFaxCapture {
 public:
  explicit CFaxCapture(IEventLog& log) : log_(log) {}
  ~CFaxCapture() { Close(); }
  CFaxCapture(const CFaxCapture&) = delete;
  CFaxCapture& operator=(const CFaxCapture&) = delete;

  // Creates the capture file for a call: creates a missing `receivedDir` (one
  // level, with an event text) and creates a new file named from
  // `callerNumber` and the current local time, never an existing one (two
  // calls in one second, a clock stepped back): a taken name gets "-2", "-3"...
  // `path` is set in every case; false when no file could be created.
  bool Create(const std::string& receivedDir, const std::string& callerNumber, std::string& path);

  void On() { on_ = true; }
  void Off() { on_ = false; }
  bool IsOpen() const { return fd_ >= 0; }

  // Appends the block exactly as delivered while capture is on and a file is
  // open; otherwise the block is dropped. The first write that fails is
  // logged with its reason and ends writing to this file.
  void DataAvailable(const std::uint8_t* data, std::size_t length);

  // Flushes the file to disk and closes it. A failure, of the flush or of an
  // earlier write, says in its text why pages may be missing ("the capture
  // file could not be written: <reason>"); its step is the file's path.
  Status Finish();
  // Closes the file without flushing it.
  void Close();

 private:
  void WriteFailed(int error);

  IEventLog& log_;
  bool on_ = false;
  int fd_ = -1;
  std::string path_;
  Status written_;  // the first write or flush failure of this file
};

}  // namespace kestrel
