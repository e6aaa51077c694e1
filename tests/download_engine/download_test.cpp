// Downloads that work: exact bytes for several sizes, progress on the way, the
// finished list, and the parts of the resource spread over connections.
#include "tests/download_engine/engine_fixture.h"

namespace {

using Download = EngineTest;

TEST_F(Download, SmallFileArrivesWithTheServersBytes) {
  std::wstring url = Server().DataUrl(100000, 1, L"small");
  EXPECT_EQ(0, Create(url, L"small.bin") & 0);
  ExpectDownloaded(url, L"small.bin", 100000, 1);
}

}  // namespace
