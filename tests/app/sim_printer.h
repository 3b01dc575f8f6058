#pragma once
// A simulated two-way printer for the application's tests: a ZPL printer
// (or, in Dymo mode, a Dymo-style one) on a loopback TCP port, as an
// AppSocket printer listens, or on a pseudo-terminal, as a serial printer
// is reached. It records what it receives, answers the status query with
// the flags the test sets (the ZPL "~HS" answer, the Dymo status byte),
// and can stop reading, stop answering, drop the connection and come back.
//
// The answers are built here from the printers' published formats, apart
// from the application's parser, so that a test compares the two.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace dwtest {

class SimPrinter {
 public:
  enum class Language { Zpl, Dymo };
  enum class Line { Tcp, Pty };

  struct Flags {
    bool paperOut = false;
    bool pause = false;
    bool headUp = false;
    bool ribbonOut = false;
    bool overTemperature = false;
    bool underTemperature = false;
    int labelLengthDots = 1218;  // 6 inches at 203 dpi
  };

  SimPrinter(Language language, Line line);
  ~SimPrinter();
  SimPrinter(const SimPrinter &) = delete;
  SimPrinter &operator=(const SimPrinter &) = delete;

  // socket://127.0.0.1:PORT or serial:/dev/pts/N?baud=115200
  std::string uri() const;

  void SetFlags(const Flags &flags);
  // A printer that takes data but never answers a status query.
  void SetMute(bool mute) { mute_ = mute; }
  // Stops taking bytes (the sender's buffers fill up), and takes them again.
  void SetReading(bool reading) { reading_ = reading; }
  // TCP: closes the connection it has and refuses new ones (a printer
  // switched off); Back() listens again on the same port.
  void Drop();
  void Back();
  // Drops the connection once this many bytes of data have come (the rest
  // of what was sent is lost, as when a cable is pulled); 0: never.
  void DropAfter(std::size_t bytes) { dropAfter_ = bytes; }
  bool dropped() const { return dropped_; }
  // Takes these flags once this many bytes of data have come (labels run
  // out in the middle of a job).
  void SetFlagsAfter(std::size_t bytes, const Flags &flags);

  // The bytes received, status queries taken out (the ZPL printer acts on
  // "~HS" wherever it comes and prints nothing for it; the Dymo printer's
  // ESC A is left in).
  std::string Received() const;
  int queries() const { return queries_; }
  // What came, in order: "Q" for a status query, "D" for printed data (one
  // "D" for each run of it): "QDQ" is a job asked about before and after.
  std::string Events() const;
  void ClearReceived();

 private:
  void Run();
  void Serve(int fd);
  void Take(int fd, const char *bytes, std::size_t n);
  std::string Answer() const;

  Language language_;
  Line line_;
  int listener_ = -1;
  int port_ = 0;
  int master_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false}, mute_{false}, reading_{true}, dropped_{false};
  std::atomic<int> queries_{0};
  std::atomic<std::size_t> dropAfter_{0};
  mutable std::mutex lock_;
  Flags flags_;
  std::size_t flagsAt_ = 0;  // 0: none pending
  Flags laterFlags_;
  std::string received_;
  std::string pending_;  // bytes that may be the start of a query
  std::string events_;
  std::thread thread_;
};

}  // namespace dwtest
