// The CTest fixture of the PostgreSQL tests: "start STATE" brings up one
// throw-away cluster and records it in the file STATE; "stop STATE" removes it.
#include <cstdio>
#include <cstring>
#include <exception>

#include "tests/store/test_database.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s start|stop STATE\n", argv[0]);
    return 2;
  }
  try {
    if (std::strcmp(argv[1], "start") == 0) {
      kestrel::test::CPostgresCluster::StopDetached(argv[2]);  // a leftover of an aborted run
      kestrel::test::CPostgresCluster cluster;
      cluster.Detach(argv[2]);
      std::printf("PostgreSQL test cluster on port %d\n", cluster.Port());
      return 0;
    }
    if (std::strcmp(argv[1], "stop") == 0) {
      kestrel::test::CPostgresCluster::StopDetached(argv[2]);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 2;
}
