// "serial:" device URIs as CUPS's serial backend writes them: what each one
// sets, the defaults for what it leaves out, and the reasons bad ones are
// refused.
#include <gtest/gtest.h>

#include <ostream>

#include "serial.h"

namespace dwserial {
// Readable failures: the settings as a URI-like line.
void PrintTo(const SerialSettings &s, std::ostream *out) {
  *out << s.path << " " << DescribeSettings(s);
}
}  // namespace dwserial

namespace {

using dwserial::FlowControl;
using dwserial::ParseSerialUri;
using dwserial::Parity;
using dwserial::SerialSettings;

struct GoodCase {
  std::string uri;
  SerialSettings expected;
};

TEST(SerialUri, GoodUrisGiveTheirSettings) {
  const GoodCase cases[] = {
      {"serial:/dev/ttyUSB0?baud=115200+bits=8+parity=none+flow=none",
       {.path = "/dev/ttyUSB0", .baud = 115200}},
      {"serial:/dev/rfcomm0?baud=57600&bits=7&parity=even&stop=2&flow=soft",
       {.path = "/dev/rfcomm0", .baud = 57600, .dataBits = 7, .parity = Parity::Even,
        .stopBits = 2, .flow = FlowControl::XonXoff}},
      {"serial:/dev/ttyS1?baud=4800+parity=odd+flow=xonxoff",
       {.path = "/dev/ttyS1", .baud = 4800, .parity = Parity::Odd, .flow = FlowControl::XonXoff}},
      {"serial:/dev/ttyS1?flow=hard", {.path = "/dev/ttyS1", .flow = FlowControl::RtsCts}},
      {"serial:/dev/ttyS1?flow=hardware", {.path = "/dev/ttyS1", .flow = FlowControl::RtsCts}},
      {"serial:/dev/ttyS1?flow=rtscts", {.path = "/dev/ttyS1", .flow = FlowControl::RtsCts}},
      {"serial:/dev/ttyS1?flow=dtrdsr", {.path = "/dev/ttyS1", .flow = FlowControl::DtrDsr}},
      {"serial:/dev/ttyS1?stop=1&bits=8", {.path = "/dev/ttyS1"}},
      // Scheme, names and values in any case.
      {"SERIAL:/dev/ttyUSB1?BAUD=19200+Parity=EVEN+Flow=XonXoff",
       {.path = "/dev/ttyUSB1", .baud = 19200, .parity = Parity::Even,
        .flow = FlowControl::XonXoff}},
      // An empty authority, as some tools write file-like URIs.
      {"serial:///dev/ttyUSB0?baud=38400", {.path = "/dev/ttyUSB0", .baud = 38400}},
      // Percent-escapes in the path are decoded; the path is not split at "+".
      {"serial:/dev/serial/by-id/usb-Maker_Label%20Printer%2B-if00?baud=9600",
       {.path = "/dev/serial/by-id/usb-Maker_Label Printer+-if00"}},
      // Empty options are skipped; the last of a repeated option counts.
      {"serial:/dev/ttyUSB0?baud=9600++bits=7&&baud=38400&",
       {.path = "/dev/ttyUSB0", .baud = 38400, .dataBits = 7}},
      // The slowest and the fastest rate termios names.
      {"serial:/dev/ttyUSB0?baud=50", {.path = "/dev/ttyUSB0", .baud = 50}},
      {"serial:/dev/ttyUSB0?baud=4000000", {.path = "/dev/ttyUSB0", .baud = 4000000}},
  };
  for (const GoodCase &c : cases) {
    SCOPED_TRACE(c.uri);
    const dwserial::SerialUriResult result = ParseSerialUri(c.uri);
    ASSERT_TRUE(result.settings) << result.error;
    EXPECT_EQ(*result.settings, c.expected);
    EXPECT_EQ(result.error, "");
  }
}

// What CUPS assumes for every part a URI leaves out.
TEST(SerialUri, MissingPartsTakeTheDefaults) {
  for (const char *uri : {"serial:/dev/ttyS0", "serial:/dev/ttyS0?", "serial:/dev/ttyS0?+&"}) {
    SCOPED_TRACE(uri);
    const dwserial::SerialUriResult result = ParseSerialUri(uri);
    ASSERT_TRUE(result.settings) << result.error;
    EXPECT_EQ(result.settings->baud, 9600u);
    EXPECT_EQ(result.settings->dataBits, 8u);
    EXPECT_EQ(result.settings->parity, Parity::None);
    EXPECT_EQ(result.settings->stopBits, 1u);
    EXPECT_EQ(result.settings->flow, FlowControl::None);
  }
}

struct BadCase {
  std::string uri;
  std::string error;
};

TEST(SerialUri, BadUrisAreRefusedWithTheReason) {
  const BadCase cases[] = {
      {"", "not a serial URI: "},
      {"serial", "not a serial URI: serial"},
      {"usb://Maker/Model?serial=1", "not a serial URI: usb://Maker/Model?serial=1"},
      {"serial:", "no device path"},
      {"serial:?baud=9600", "no device path"},
      {"serial://printer/dev/ttyS0",
       "serial URI names a host: serial://printer/dev/ttyS0 (write serial:/dev/NAME)"},
      {"serial:dev/ttyUSB0?baud=9600", "device path dev/ttyUSB0 is not absolute"},
      {"serial:/dev/ttyUSB0?baud=12345", "unknown baud rate 12345"},
      {"serial:/dev/ttyUSB0?baud=0", "unknown baud rate 0"},
      {"serial:/dev/ttyUSB0?baud=fast", "unknown baud rate fast"},
      {"serial:/dev/ttyUSB0?baud=-9600", "unknown baud rate -9600"},
      {"serial:/dev/ttyUSB0?baud=115200.0", "unknown baud rate 115200.0"},
      {"serial:/dev/ttyUSB0?baud=4294976896", "unknown baud rate 4294976896"},
      {"serial:/dev/ttyUSB0?baud=", "option baud has no value"},
      {"serial:/dev/ttyUSB0?baud", "option baud has no value"},
      {"serial:/dev/ttyUSB0?bits=9", "unknown data bits 9 (7 or 8)"},
      {"serial:/dev/ttyUSB0?bits=5", "unknown data bits 5 (7 or 8)"},
      {"serial:/dev/ttyUSB0?parity=mark", "unknown parity mark (none, even or odd)"},
      {"serial:/dev/ttyUSB0?flow=yes", "unknown flow control yes (none, soft, hard or dtrdsr)"},
      {"serial:/dev/ttyUSB0?stop=3", "unknown stop bits 3 (1 or 2)"},
      {"serial:/dev/ttyUSB0?speed=9600", "unknown serial option speed"},
      // A bad option after good ones still refuses the URI.
      {"serial:/dev/ttyUSB0?baud=9600+bits=8+buad=19200", "unknown serial option buad"},
      {"serial:/dev/tty%ZZ", "bad percent escape in device path /dev/tty%ZZ"},
      {"serial:/dev/tty%4", "bad percent escape in device path /dev/tty%4"},
      {"serial:/dev/tty%00", "bad percent escape in device path /dev/tty%00"},
      {std::string("serial:/dev/tty\0USB0", 20), "device path contains a NUL byte"},
      // Bytes that do not belong in a message are shown escaped, long texts cut.
      {"serial:/dev/ttyUSB0?baud=\x01\xff", "unknown baud rate \\x01\\xFF"},
      {"serial:/dev/ttyUSB0?baud=" + std::string(100, '9'),
       "unknown baud rate " + std::string(64, '9') + "..."},
  };
  for (const BadCase &c : cases) {
    SCOPED_TRACE(c.uri);
    const dwserial::SerialUriResult result = ParseSerialUri(c.uri);
    EXPECT_FALSE(result.settings);
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(SerialUri, ListedUrisEscapeThePathAndParseBack) {
  EXPECT_EQ(dwserial::MakeSerialUri("/dev/ttyUSB0", 115200), "serial:/dev/ttyUSB0?baud=115200");
  const std::string odd = "/dev/serial/by-id/usb-A B+C?x&y%z";
  const std::string uri = dwserial::MakeSerialUri(odd, 9600);
  EXPECT_EQ(uri, "serial:/dev/serial/by-id/usb-A%20B%2BC%3Fx%26y%25z?baud=9600");
  const dwserial::SerialUriResult back = ParseSerialUri(uri);
  ASSERT_TRUE(back.settings) << back.error;
  EXPECT_EQ(back.settings->path, odd);
  EXPECT_EQ(back.settings->baud, 9600u);

  const std::string doubleSlash = dwserial::MakeSerialUri("//dev/ttyS0", 9600);
  EXPECT_EQ(doubleSlash, "serial:////dev/ttyS0?baud=9600");
  ASSERT_TRUE(ParseSerialUri(doubleSlash).settings);
  EXPECT_EQ(ParseSerialUri(doubleSlash).settings->path, "//dev/ttyS0");
}

TEST(SerialUri, SettingsReadAsText) {
  EXPECT_EQ(dwserial::DescribeSettings({.path = "/dev/x"}),
            "9600 baud, 8 data bits, no parity, 1 stop bit, no flow control");
  EXPECT_EQ(dwserial::DescribeSettings({.path = "/dev/x", .baud = 115200, .dataBits = 7,
                                        .parity = Parity::Odd, .stopBits = 2,
                                        .flow = FlowControl::RtsCts}),
            "115200 baud, 7 data bits, odd parity, 2 stop bits, RTS/CTS flow control");
}

}  // namespace
