// kestrel-admin mail login / logout and the OAuth line of status, as a
// process against the tests' own identity provider: the device sign-in's one
// line and exit status, a denied sign-in's reason, the token file's mode,
// and no token on any output or in the log.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "oauth/token_store.h"
#include "tests/oauth/idp_peer.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace kestrel {
namespace {

struct AdminRun {
  int status;
  std::string out;
  std::string err;
};

class AdminLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(idp_.Port(), 0) << "the IdP did not start";
    ServiceSettings s;
    s.ReceivedDir = app_.Path();
    s.ODBCConnect = "DSN=Kestrel";
    s.Address = "fax@kestrel.test";
    s.Name = "Fax";
    s.SMTPServer = "127.0.0.1";
    s.SMTP_User = "fax@kestrel.test";
    s.AuthenticationMethod = SmtpAuthentication::OAuth;
    idp_.UseDeviceGrant(s);
    CEventLog log(home_.Path());
    ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), s, log));
  }

  std::string Url(const std::string& path) const { return idp_.Url(path); }
  nlohmann::json Control(const FormFields& fields) const { return idp_.Control(fields); }

  AdminRun RunAdmin(std::vector<std::string> args) {
    args.insert(args.begin(), {KESTREL_ADMIN, "--home", app_.Path()});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, home_.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, home_.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, KESTREL_ADMIN, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    ::waitpid(pid, &status, 0);  // the test's timeout bounds a sign-in that never ends
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFileBytes(home_.File("out")),
            test::ReadFileBytes(home_.File("err"))};
  }

  test::CTempDir home_;
  test::CTempDir app_;
  test::CIdpPeer idp_;
};

TEST_F(AdminLoginTest, DeviceLoginStoresPrivateTokensThatStatusShowsAndLogoutForgets) {
  const AdminRun login = RunAdmin({"mail", "login"});
  ASSERT_EQ(login.status, 0) << login.err;
  EXPECT_EQ(login.out.substr(0, login.out.find('\n')),
            "To sign in, open " + Url("/verify") + " and enter the code KEST-1");
  struct stat st {};
  const std::string file = COAuthTokenStore(app_.Path()).Path();
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600);

  const AdminRun status = RunAdmin({"status"});
  EXPECT_NE(status.out.find("\nOAuth: token held, expires 20"), std::string::npos) << status.out;

  const nlohmann::json issued = Control({})["issued"];
  ASSERT_EQ(issued.size(), 2u);
  const std::string seen = login.out + login.err + status.out + status.err +
                           test::ReadFileBytes(app_.File("kestrel.log")) +
                           test::ReadFileBytes(app_.File("kestrel.xml"));
  for (const auto& token : issued) {
    EXPECT_EQ(seen.find(token.get<std::string>()), std::string::npos);
    EXPECT_NE(test::ReadFileBytes(file).find(token.get<std::string>()), std::string::npos);
  }

  EXPECT_EQ(RunAdmin({"mail", "logout"}).status, 0);
  EXPECT_FALSE(test::FileExists(file));
  const AdminRun after = RunAdmin({"status"});
  EXPECT_EQ(after.status, 1);
  EXPECT_NE(after.out.find("\nOAuth: " + std::string(kNoTokenHeld) + "\n"), std::string::npos) << after.out;
}

TEST_F(AdminLoginTest, DeniedLoginExitsOneWithTheReasonOnStandardError) {
  Control({{"set", "outcome"}, {"value", "access_denied"}});
  const AdminRun login = RunAdmin({"mail", "login"});
  EXPECT_EQ(login.status, 1);
  EXPECT_NE(login.err.find("access_denied"), std::string::npos) << login.err;
  EXPECT_FALSE(test::FileExists(COAuthTokenStore(app_.Path()).Path()));
}

}  // namespace
}  // namespace kestrel
