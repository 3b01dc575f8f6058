// The printer's status read back, through a private dotweave-app server and
// simulated printers: ZPL printers on a loopback TCP port (socket://) and on
// a pseudo-terminal (serial:), a Dymo-style printer on a pseudo-terminal. A printer out of paper
// shows media-empty and stops; paper back clears it and the waiting job
// prints, byte for byte what a file: printer gets for the same job; a
// printer that never answers is asked once and prints as if never asked.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/app_server.h"
#include "app/sim_printer.h"

using namespace dwtest;

namespace {

using Clock = std::chrono::steady_clock;

// Polls `attribute` of the printer until `want` says yes or `seconds` pass;
// the last value seen.
template <typename Pred>
std::string WaitForAttribute(AppServer &server, const std::string &printer, const std::string &attribute, Pred want,
                             int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::string value;
  do {
    value = server.PrinterAttribute(printer, attribute);
    if (want(value)) return value;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  } while (Clock::now() < deadline);
  return value;
}

bool Has(const std::string &list, const std::string &word) {
  return ("," + list + ",").find("," + word + ",") != std::string::npos;
}

std::string LabelPng(const TempDir &dir, const std::string &name) {
  const unsigned w = 406, h = 203;
  Bytes pixels(std::size_t{w} * h, 255);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if (x < 8 || y < 8 || x >= w - 8 || y >= h - 8 || (y > 80 && y < 120 && x % 16 < 8)) pixels[y * w + x] = 0;
  return PngFile(dir, name, w, h, pixels, 1, 203);
}

TEST(AppStatus, ZplPaperOutStopsThePrinterAndPaperBackPrintsTheWaitingJob) {
  SimPrinter sim(SimPrinter::Language::Zpl, SimPrinter::Line::Tcp);
  SimPrinter::Flags out;
  out.paperOut = true;
  out.labelLengthDots = 406;
  sim.SetFlags(out);
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("zplnet", "dotweave-zpl", sim.uri()));
  ASSERT_TRUE(server.AddPrinter("zplfile", "dotweave-zpl"));
  TempDir dir;
  const std::string png = LabelPng(dir, "label.png");

  // Within 35 seconds a client sees the printer out of labels, stopped.
  const std::string reasons = WaitForAttribute(
      server, "zplnet", "printer-state-reasons", [](const std::string &v) { return Has(v, "media-empty"); }, 35);
  ASSERT_TRUE(Has(reasons, "media-empty")) << reasons << server.log();
  EXPECT_EQ(WaitForAttribute(server, "zplnet", "printer-state", [](const std::string &v) { return v == "stopped"; }, 5),
            "stopped");
  // The supplies say it too: labels empty, their measured length shown.
  EXPECT_NE(server.PrinterAttribute("zplnet", "printer-supply-description").find("Labels"), std::string::npos);
  EXPECT_EQ(server.PrinterAttribute("zplnet", "marker-levels").substr(0, 1), "0");
  EXPECT_NE(server.log().find("label length 50.8 mm"), std::string::npos);

  // A job sent now waits.
  const JobOutcome waiting = server.Submit("zplnet", png, "image/png");
  ASSERT_EQ(waiting.submitStatus, IPP_STATUS_OK) << waiting.submitMessage;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(server.Wait("zplnet", waiting, 0).state, IPP_JSTATE_PENDING);

  // Paper back: the reason goes, the printer goes on and prints the job.
  out.paperOut = false;
  sim.SetFlags(out);
  const JobOutcome done = server.Wait("zplnet", waiting, 35);
  ASSERT_EQ(done.state, IPP_JSTATE_COMPLETED) << done.message << server.jobLog();
  EXPECT_FALSE(Has(server.PrinterAttribute("zplnet", "printer-state-reasons"), "media-empty"));
  EXPECT_NE(server.PrinterAttribute("zplnet", "printer-supply-description").find("Labels, 50.8 mm long"),
            std::string::npos);

  // What the printer received is what a file: printer gets for the same job.
  const JobOutcome reference = server.Print("zplfile", png, "image/png");
  ASSERT_EQ(reference.state, IPP_JSTATE_COMPLETED) << reference.message;
  const std::string expected = server.Output("zplfile", reference);
  ASSERT_FALSE(expected.empty());
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (sim.Received().size() < expected.size() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sim.Received(), expected);
  // Asked before the job and after it: the job's data between two queries.
  const std::string events = sim.Events();
  EXPECT_EQ(events.find('D'), events.rfind('D')) << events;
  EXPECT_NE(events.find("QDQ"), std::string::npos) << events;
  // The poll thread lets the server stop cleanly (no report from the sanitizers).
  EXPECT_EQ(server.Stop(), 0) << ReadFile(server.stateDir() + "/server.out");
}

TEST(AppStatus, ZplHeadOpenRibbonOutAndHeatShowAsTheirReasonsOnASerialLine) {
  SimPrinter sim(SimPrinter::Language::Zpl, SimPrinter::Line::Pty);
  SimPrinter::Flags flags;
  flags.headUp = flags.ribbonOut = flags.overTemperature = true;
  sim.SetFlags(flags);
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("zpl", "dotweave-zpl", sim.uri()));
  const std::string reasons = WaitForAttribute(
      server, "zpl", "printer-state-reasons", [](const std::string &v) { return Has(v, "other"); }, 35);
  EXPECT_TRUE(Has(reasons, "cover-open")) << reasons;
  EXPECT_TRUE(Has(reasons, "marker-supply-empty")) << reasons;
  EXPECT_TRUE(Has(reasons, "other")) << reasons;
  EXPECT_NE(server.log().find("The print head is too hot."), std::string::npos);
  // All clear: every reason goes, the printer is idle again.
  sim.SetFlags({});
  const std::string cleared = WaitForAttribute(
      server, "zpl", "printer-state-reasons", [](const std::string &v) { return v == "none"; }, 35);
  EXPECT_EQ(cleared, "none");
  EXPECT_EQ(server.PrinterAttribute("zpl", "printer-state"), "idle");
}

TEST(AppStatus, DymoPaperOutOnASerialLine) {
  SimPrinter sim(SimPrinter::Language::Dymo, SimPrinter::Line::Pty);
  SimPrinter::Flags flags;
  flags.paperOut = true;
  sim.SetFlags(flags);
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("dymo", "dotweave-dymo", sim.uri()));
  const std::string reasons = WaitForAttribute(
      server, "dymo", "printer-state-reasons", [](const std::string &v) { return Has(v, "media-empty"); }, 35);
  ASSERT_TRUE(Has(reasons, "media-empty")) << reasons << server.log();
  sim.SetFlags({});
  const std::string cleared = WaitForAttribute(
      server, "dymo", "printer-state-reasons", [](const std::string &v) { return !Has(v, "media-empty"); }, 35);
  EXPECT_FALSE(Has(cleared, "media-empty")) << cleared;
  EXPECT_EQ(server.Stop(), 0) << ReadFile(server.stateDir() + "/server.out");
}

TEST(AppStatus, APrinterThatNeverAnswersIsAskedOnceAndPrints) {
  SimPrinter sim(SimPrinter::Language::Zpl, SimPrinter::Line::Tcp);
  sim.SetMute(true);
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("mute", "dotweave-zpl", sim.uri()));
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (sim.queries() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(sim.queries(), 1);
  // Marked unknown once, in the log; no reason of its own.
  const auto logged = Clock::now() + std::chrono::seconds(15);
  while (server.log().find("does not answer") == std::string::npos && Clock::now() < logged)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(server.log().find("does not answer its status query"), std::string::npos);
  TempDir dir;
  const JobOutcome job = server.Print("mute", LabelPng(dir, "mute.png"), "image/png");
  EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << server.jobLog();
  EXPECT_EQ(sim.queries(), 1);  // not asked before or after the job
  EXPECT_EQ(server.PrinterAttribute("mute", "printer-state-reasons"), "none");
}

}  // namespace
