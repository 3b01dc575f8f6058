#pragma once
// Serial and Bluetooth printers for the printer application: the "serial:"
// device URIs that CUPS's serial backend uses, the port itself (termios
// set-up, writes that survive partial writes and report a device that goes
// away, reading the printer's answers), the list of serial ports that exist,
// and the "serial" device scheme registered with PAPPL.
//
//   serial.cpp              URI parsing and formatting (pure functions)
//   serial_port.cpp         opening and configuring a port, reading, writing,
//                           and the check made when a printer is added
//   serial_list.cpp         listing the ports under /dev with sysfs names
//   serial_pappl.cpp        the PAPPL device scheme
//
// A Bluetooth printer is a serial port once its serial port profile is bound
// to /dev/rfcommN (`rfcomm bind`), so it needs nothing of its own here.
#include <pappl/pappl.h>
#include <termios.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace dwserial {

// ---- Device URIs -----------------------------------------------------------

enum class Parity { None, Even, Odd };
enum class FlowControl { None, XonXoff, RtsCts, DtrDsr };

// What a "serial:" URI says. A part the URI leaves out keeps the value CUPS
// assumes for it: 9600 baud, 8 data bits, no parity, 1 stop bit, no flow
// control.
struct SerialSettings {
  std::string path;  // the device node, percent-escapes decoded
  unsigned baud = 9600;
  unsigned dataBits = 8;
  Parity parity = Parity::None;
  unsigned stopBits = 1;
  FlowControl flow = FlowControl::None;

  bool operator==(const SerialSettings &) const = default;
};

// The settings, or the reason the URI is refused ("unknown baud rate 12345",
// "no device path", ...). Exactly one of the two is set.
struct SerialUriResult {
  std::optional<SerialSettings> settings;
  std::string error;
};

// Parses serial:PATH?OPTION=VALUE+OPTION=VALUE... (options also separated by
// "&"): baud, bits (7 or 8), parity (none, even, odd), stop (1 or 2) and flow
// (none; soft or xonxoff; hard, hardware or rtscts; dtrdsr). Scheme, option
// names and values are case-insensitive; an unknown option is refused so that
// a misspelt one does not go unnoticed. Pure: no file system access, no
// global state; any byte sequence is a valid input.
SerialUriResult ParseSerialUri(std::string_view uri);

// "serial:PATH?baud=N" with the path percent-escaped where a URI needs it.
std::string MakeSerialUri(std::string_view path, unsigned baud);

// The termios speed for a baud rate the URI parser accepts, or none.
std::optional<speed_t> TermiosSpeed(unsigned baud);

// "115200 baud, 8 data bits, no parity, 1 stop bit, RTS/CTS flow control"
std::string DescribeSettings(const SerialSettings &settings);

// ---- The port --------------------------------------------------------------

struct PortTimeouts {
  // A write fails when the printer has taken no byte for this long (offline,
  // out of paper, or holding the line with flow control).
  std::chrono::milliseconds writeStall{60000};
  // How long closing the port waits for queued bytes to leave the line.
  std::chrono::milliseconds drain{30000};
};

// What a write had to do to get its bytes out; for tests and debug logs.
struct WriteCounts {
  std::size_t writeCalls = 0;
  std::size_t partialWrites = 0;  // write() took fewer bytes than offered
  std::size_t waits = 0;          // waited for the port to take more (EAGAIN, flow control)
};

// An open, configured serial port. The port is held exclusively (flock, and
// TIOCEXCL for other users) until it is closed.
class SerialPort {
 public:
  // Opens settings.path and sets it up: raw mode, the speed, data bits,
  // parity, stop bits and flow control, no modem control for open or
  // hang-up. Returns null with the reason in `error` when the device is
  // missing, not a terminal, busy, or refuses the settings.
  static std::unique_ptr<SerialPort> Open(const SerialSettings &settings, std::string &error,
                                          PortTimeouts timeouts = {});
  ~SerialPort();
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  // Writes all `size` bytes, through partial writes, EINTR and a full output
  // buffer. Fails with a message when the device goes away or the printer
  // takes nothing for timeouts.writeStall.
  bool WriteAll(const void *data, std::size_t size, std::string &error);

  // Reads what the printer has sent, waiting up to `timeout` for the first
  // byte. Returns the byte count, 0 when nothing came in time, or -1 with a
  // message when the device went away.
  ssize_t Read(void *buffer, std::size_t size, std::chrono::milliseconds timeout,
               std::string &error);

  // Waits until the bytes queued in the driver have left the line. Returns
  // false with a message when they have not after timeouts.drain; the port
  // then drops them when it is closed instead of waiting again.
  bool Drain(std::string &error);

  // True while the device is there: not hung up, not unplugged.
  bool Present() const;

  int fd() const { return fd_; }
  const SerialSettings &settings() const { return settings_; }
  const WriteCounts &counts() const { return counts_; }

 private:
  SerialPort(int fd, SerialSettings settings, PortTimeouts timeouts, const termios &original);
  bool WaitWritable(std::chrono::steady_clock::time_point deadline, std::string &error);
  bool WaitForDsr(std::chrono::steady_clock::time_point deadline, std::string &error);
  std::string StallMessage() const;

  int fd_;
  SerialSettings settings_;
  PortTimeouts timeouts_;
  termios original_;
  WriteCounts counts_;
  bool drainGaveUp_ = false;
};

// Checks a device URI when a printer is added: a "serial:" URI must parse
// and name a terminal that exists (a port busy with a job counts). Returns
// an empty string when the URI is fine (or is not a "serial:" URI), else the
// reason it is refused ("/dev/null is not a terminal").
// PAPPL creates a printer only when the driver callback returns true, so
// that callback is the place to call it (and to log the reason).
std::string CheckSerialDeviceUri(const char *uri);

// ---- Ports that exist ------------------------------------------------------

struct SerialPortInfo {
  std::string uri;          // serial:/dev/ttyUSB0?baud=115200
  std::string description;  // "Maker Product (ttyUSB0)"
};

// The serial ports under `devRoot`: every ttyUSB*, ttyACM* and rfcomm* node,
// and the built-in ttyS* ports that have a UART behind them. Descriptions
// come from `sysRoot`/class/tty/NAME. Sorted by kind, then by number.
std::vector<SerialPortInfo> ListSerialPorts(const std::string &devRoot = "/dev",
                                            const std::string &sysRoot = "/sys");

// ---- PAPPL -----------------------------------------------------------------

// Reports every port of ListSerialPorts(devRoot, sysRoot) to a PAPPL device
// callback, stopping when it returns true. Returns what the callback last
// returned (true: stopped).
bool ReportSerialPorts(pappl_device_cb_t cb, void *data, const std::string &devRoot,
                       const std::string &sysRoot);

// How long PAPPL's device read waits for the printer's answer.
inline constexpr std::chrono::milliseconds kDeviceReadTimeout{5000};

}  // namespace dwserial

// Registers the "serial" device scheme with PAPPL (listing, open, close,
// read, write, status). Call it once before the system or the main loop
// starts; later calls do nothing.
void dwRegisterSerialScheme(void);
