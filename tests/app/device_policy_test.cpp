// Which file: device URIs a printer may have: real directories, symbolic
// links and paths that do not exist yet, in a temporary tree:
//
//   ROOT/allowed/          the file device directory
//   ROOT/allowed/out/      a directory printer
//   ROOT/allowed/in-link   -> allowed/out         (stays inside)
//   ROOT/allowed/out-link  -> ROOT/outside/target (leads out, exists)
//   ROOT/allowed/dangling  -> ROOT/outside/new    (leads out, not there)
//   ROOT/allowed/up        -> ROOT                (a directory link out)
//   ROOT/allowed-twin/     a sibling whose name starts like the directory's
//   ROOT/outside/target
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "app/security/device_policy.h"
#include "support/harness.h"

namespace {

using app::security::CheckFileDeviceUri;
using app::security::IsFileDeviceUri;
using dwtest::TempDir;

class DevicePolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.path();
    allowed_ = root_ + "/allowed";
    for (const std::string &d : {allowed_, allowed_ + "/out", root_ + "/allowed-twin", root_ + "/outside"})
      ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
    tmp_.Write("outside/target", "keep");
    ASSERT_EQ(symlink((allowed_ + "/out").c_str(), (allowed_ + "/in-link").c_str()), 0);
    ASSERT_EQ(symlink((root_ + "/outside/target").c_str(), (allowed_ + "/out-link").c_str()), 0);
    ASSERT_EQ(symlink((root_ + "/outside/new").c_str(), (allowed_ + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink(root_.c_str(), (allowed_ + "/up").c_str()), 0);
  }
  std::string Check(const std::string &uri) const { return CheckFileDeviceUri(uri, allowed_); }

  TempDir tmp_;
  std::string root_, allowed_;
};

TEST_F(DevicePolicy, PathsInsideTheDirectoryAreTaken) {
  for (const std::string &uri :
       {"file://" + allowed_, "file://" + allowed_ + "/", "file://" + allowed_ + "/out",
        "file://" + allowed_ + "/new-file",                // not there yet: its parent decides
        "file://" + allowed_ + "/out/../out",              // ".." that stays inside
        "file://" + allowed_ + "/in-link",                 // a link that stays inside
        "file:" + allowed_ + "/out", "file://localhost" + allowed_ + "/out"})
    EXPECT_EQ(Check(uri), "") << uri;
}

TEST_F(DevicePolicy, PathsLeadingOutAreRefusedWithTheReason) {
  struct Case {
    std::string uri, why;
  } cases[] = {
      {"file:///etc/x", "outside the file device directory"},
      {"file://" + root_ + "/outside/target", "outside the file device directory"},
      {"file://" + allowed_ + "/../outside/target", "leads to " + root_ + "/outside/target"},
      {"file://" + allowed_ + "/../outside/new", "leads to " + root_ + "/outside/new"},
      {"file://" + allowed_ + "/out-link", "leads to " + root_ + "/outside/target"},
      {"file://" + allowed_ + "/dangling", "symbolic link to a file that does not exist"},
      {"file://" + allowed_ + "/up/outside/new", "leads to " + root_ + "/outside/new"},
      {"file://" + root_ + "/allowed-twin/x", "outside the file device directory"},  // not a prefix match
      {"file://" + allowed_ + "/missing/x", "does not exist"},
      {"file://" + allowed_ + "/..", "outside the file device directory"},
      {"file://evil.example" + allowed_ + "/out", "local absolute path"},
      {"file://" + allowed_ + "/out?x=1", "local absolute path"},
      {"file://" + allowed_ + "/%2e%2e/outside/target", "%-escapes"},
      {"file:relative/path", "local absolute path"},
      {"FILE:///etc/x", "outside the file device directory"},
  };
  for (const Case &c : cases) {
    const std::string why = Check(c.uri);
    EXPECT_NE(why.find(c.why), std::string::npos) << c.uri << ": " << why;
  }
}

TEST_F(DevicePolicy, WithoutADirectoryNoFileDeviceIsTaken) {
  EXPECT_NE(CheckFileDeviceUri("file://" + allowed_ + "/out", "").find("-o file-device-directory=DIR"),
            std::string::npos);
  EXPECT_NE(CheckFileDeviceUri("file://" + allowed_ + "/out", root_ + "/gone").find("does not exist"),
            std::string::npos);
  // The directory named through a link, or with a trailing slash, is the same directory.
  EXPECT_EQ(CheckFileDeviceUri("file://" + allowed_ + "/out", allowed_ + "/"), "");
  EXPECT_EQ(CheckFileDeviceUri("file://" + allowed_ + "/out/job", allowed_ + "/in-link"), "");
}

TEST_F(DevicePolicy, OtherSchemesAreNotItsBusiness) {
  for (const char *uri : {"usb://Zebra/ZD420?serial=1", "socket://10.0.0.5", "serial:/dev/ttyUSB0?baud=9600", "",
                          "fil", "files:///etc/x"}) {
    EXPECT_FALSE(IsFileDeviceUri(uri)) << uri;
    EXPECT_EQ(CheckFileDeviceUri(uri, ""), "") << uri;
  }
}

}  // namespace
