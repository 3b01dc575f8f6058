// Automatic recovery, through a private dotweave-app server and a simulated
// ZPL printer on a loopback TCP port: a connection cut in the middle of a
// job is waited out, and when the printer is back it gets the job's setup
// and each page it did not completely receive, whole, once; a client sees
// the printer "offline" meanwhile; Cancel-Job ends a waiting job; past the
// recovery time the job is aborted with the reason.
//
// What a job must give is what a file: printer gets for the same document,
// cut into pages where each ZPL label ends ("^IDR:CUPS.GRF^FS" deletes the
// label's stored graphic in the last format of every page).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_server.h"
#include "app/sim_printer.h"

using namespace dwtest;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A PDF of four 4 x 6 inch labels, each with a frame and a bar at a height
// of its own, so that no two pages are alike (printed through Ghostscript
// in the job's thread, as a client's PDF is).
std::string FourLabelPdf(const TempDir &dir) {
  std::string ps = "%!PS\n<< /PageSize [288 432] >> setpagedevice\n";
  for (int n = 0; n < 4; ++n)
    ps += "4 setlinewidth 8 8 272 416 rectstroke 20 " + std::to_string(40 + 90 * n) + " 248 30 rectfill showpage\n";
  const std::string source = dir.Write("labels.ps", ps);
  const std::string pdf = dir.path() + "/labels.pdf";
  const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o " + pdf + " " + source;
  return std::system(cmd.c_str()) == 0 ? pdf : "";
}

// Where each page of a ZPL job's output starts, and its end.
std::vector<std::size_t> PageStarts(const std::string &zpl) {
  const std::string pageEnd = "^IDR:CUPS.GRF^FS\n^XZ\n";
  std::vector<std::size_t> starts = {0};
  for (std::size_t at = zpl.find(pageEnd); at != std::string::npos; at = zpl.find(pageEnd, at + 1))
    starts.push_back(at + pageEnd.size());
  return starts;
}

bool Has(const std::string &list, const std::string &word) {
  return ("," + list + ",").find("," + word + ",") != std::string::npos;
}

template <typename Pred>
bool WaitUntil(Pred done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

class AppRecovery : public ::testing::Test {
 protected:
  // A server with the simulated printer and a file: printer of the same
  // model, the simulated one known to answer its status query.
  void StartServer(std::map<std::string, std::string> env = {}) {
    server_.emplace(std::move(env));
    ASSERT_TRUE(server_->running());
    ASSERT_TRUE(server_->AddPrinter("zplnet", "dotweave-zpl", sim_.uri()));
    ASSERT_TRUE(server_->AddPrinter("zplfile", "dotweave-zpl"));
    ASSERT_TRUE(WaitUntil([&] { return server_->log().find("[Printer zplnet] Printer status: ready") != std::string::npos; },
                          30s))
        << server_->log();
    pdf_ = FourLabelPdf(dir_);
    ASSERT_FALSE(pdf_.empty()) << "Ghostscript could not make the PDF";
    const JobOutcome alone = server_->Print("zplfile", pdf_, "application/pdf");
    ASSERT_EQ(alone.state, IPP_JSTATE_COMPLETED) << alone.message;
    reference_ = server_->Output("zplfile", alone);
    starts_ = PageStarts(reference_);
    ASSERT_EQ(starts_.size(), 5u) << "four pages and the end";
    ASSERT_EQ(starts_.back(), reference_.size());
    sim_.ClearReceived();
  }
  std::string Reasons() { return server_->PrinterAttribute("zplnet", "printer-state-reasons"); }
  // Polls the job until its message holds `text` (15 s at most); `seen` is
  // the job as last seen.
  bool WaitForJobMessage(const JobOutcome &job, const std::string &text, JobOutcome &seen) {
    return WaitUntil(
        [&] {
          seen = server_->Wait("zplnet", job, 0);
          return seen.message.find(text) != std::string::npos;
        },
        15s);
  }

  SimPrinter sim_{SimPrinter::Language::Zpl, SimPrinter::Line::Tcp};
  std::optional<AppServer> server_;
  TempDir dir_;
  std::string pdf_, reference_;
  std::vector<std::size_t> starts_;
};

TEST_F(AppRecovery, ACutConnectionIsWaitedOutAndThePageItCutIsSentAgainWhole) {
  StartServer();
  // The cable is pulled half way through the second page.
  const std::size_t cut = starts_[1] + (starts_[2] - starts_[1]) / 2;
  sim_.DropAfter(cut);
  const JobOutcome job = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(job.submitStatus, IPP_STATUS_OK) << job.submitMessage;
  ASSERT_TRUE(WaitUntil([&] { return sim_.dropped(); }, 30s));

  // The job waits, and a client sees why.
  EXPECT_TRUE(WaitUntil([&] { return Has(Reasons(), "offline"); }, 15s)) << Reasons();
  const JobOutcome waiting = server_->Wait("zplnet", job, 0);
  EXPECT_EQ(waiting.state, IPP_JSTATE_PROCESSING) << waiting.message << " " << waiting.reasons;
  EXPECT_NE(waiting.message.find("Unable to reach the printer"), std::string::npos) << waiting.message;

  sim_.Back();
  const JobOutcome done = server_->Wait("zplnet", job, 40);
  ASSERT_EQ(done.state, IPP_JSTATE_COMPLETED) << done.message << server_->jobLog();
  EXPECT_FALSE(Has(Reasons(), "offline"));
  // What the printer got: the job up to the cut, then the second page again
  // from its start, and the rest once.
  const std::string expected = reference_.substr(0, cut) + reference_.substr(starts_[1]);
  ASSERT_TRUE(WaitUntil([&] { return sim_.Received().size() >= expected.size(); }, 5s));
  EXPECT_TRUE(sim_.Received() == expected) << sim_.Received().size() << " bytes, expected " << expected.size();
  EXPECT_EQ(server_->Stop(), 0) << ReadFile(server_->stateDir() + "/server.out");
}

TEST_F(AppRecovery, LabelsOutWhenAJobStartsHoldTheJobUntilTheyAreBack) {
  StartServer();
  // Out of labels since the last idle query: the query before the job says so.
  SimPrinter::Flags out;
  out.paperOut = true;
  sim_.SetFlags(out);
  const JobOutcome job = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(job.submitStatus, IPP_STATUS_OK) << job.submitMessage;
  JobOutcome held;
  EXPECT_TRUE(WaitForJobMessage(job, "The printer says: Media empty.", held)) << held.message;
  EXPECT_EQ(held.state, IPP_JSTATE_PROCESSING);
  EXPECT_TRUE(Has(Reasons(), "media-empty")) << Reasons();
  EXPECT_EQ(sim_.Received(), "");  // nothing of the job sent meanwhile

  sim_.SetFlags({});
  const JobOutcome done = server_->Wait("zplnet", job, 30);
  ASSERT_EQ(done.state, IPP_JSTATE_COMPLETED) << done.message << server_->jobLog();
  ASSERT_TRUE(WaitUntil([&] { return sim_.Received().size() >= reference_.size(); }, 5s));
  EXPECT_TRUE(sim_.Received() == reference_);
  EXPECT_FALSE(Has(Reasons(), "media-empty")) << Reasons();
  EXPECT_TRUE(WaitUntil([&] { return server_->PrinterAttribute("zplnet", "printer-state") == "idle"; }, 10s));
}

TEST_F(AppRecovery, LabelsRunningOutMidJobHoldTheRestWithNothingPrintedTwice) {
  StartServer();
  SimPrinter::Flags out;
  out.paperOut = true;
  sim_.SetFlagsAfter(starts_[1], out);  // out once the first label is in
  const JobOutcome job = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(job.submitStatus, IPP_STATUS_OK) << job.submitMessage;
  JobOutcome held;
  EXPECT_TRUE(WaitForJobMessage(job, "The printer says: Media empty.", held)) << held.message;
  EXPECT_EQ(held.state, IPP_JSTATE_PROCESSING);
  // The first label went, confirmed by the printer's answer; the second waits.
  EXPECT_TRUE(sim_.Received() == reference_.substr(0, starts_[1])) << sim_.Received().size();

  sim_.SetFlags({});
  const JobOutcome done = server_->Wait("zplnet", job, 30);
  ASSERT_EQ(done.state, IPP_JSTATE_COMPLETED) << done.message << server_->jobLog();
  ASSERT_TRUE(WaitUntil([&] { return sim_.Received().size() >= reference_.size(); }, 5s));
  EXPECT_TRUE(sim_.Received() == reference_);
}

TEST_F(AppRecovery, CancelEndsAJobWaitingForItsPrinter) {
  StartServer();
  sim_.DropAfter(starts_[1] / 2);
  const JobOutcome job = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(job.submitStatus, IPP_STATUS_OK) << job.submitMessage;
  ASSERT_TRUE(WaitUntil([&] { return Has(Reasons(), "offline"); }, 30s)) << Reasons();
  ASSERT_TRUE(server_->Cancel("zplnet", job.id));
  const auto asked = Clock::now();
  const JobOutcome canceled = server_->Wait("zplnet", job, 10);
  EXPECT_EQ(canceled.state, IPP_JSTATE_CANCELED) << canceled.message;
  EXPECT_LT(Clock::now() - asked, 5s);
  EXPECT_TRUE(WaitUntil([&] { return !Has(Reasons(), "offline"); }, 5s)) << Reasons();
  // The printer back, the next job prints whole, with nothing of the
  // canceled one sent again.
  sim_.Back();
  sim_.ClearReceived();
  const JobOutcome next = server_->Print("zplnet", pdf_, "application/pdf");
  EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message << server_->jobLog();
  ASSERT_TRUE(WaitUntil([&] { return sim_.Received().size() >= reference_.size(); }, 5s));
  EXPECT_TRUE(sim_.Received() == reference_);
}

TEST_F(AppRecovery, PastTheRecoveryTimeTheJobIsAbortedWithTheReason) {
  StartServer({{"option:recovery-timeout", "6"}});
  sim_.DropAfter(starts_[1] / 2);
  const JobOutcome job = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(job.submitStatus, IPP_STATUS_OK) << job.submitMessage;
  const JobOutcome aborted = server_->Wait("zplnet", job, 30);
  EXPECT_EQ(aborted.state, IPP_JSTATE_ABORTED) << aborted.message;
  EXPECT_NE(aborted.message.find("Unable to reach the printer. Gave up after waiting 6 seconds."), std::string::npos)
      << aborted.message;
  EXPECT_FALSE(Has(Reasons(), "offline"));

  // A printer that is off when the job starts (its device cannot be opened)
  // is waited for the same time; the job ends with the reason.
  const JobOutcome off = server_->Submit("zplnet", pdf_, "application/pdf");
  ASSERT_EQ(off.submitStatus, IPP_STATUS_OK) << off.submitMessage;
  EXPECT_TRUE(WaitUntil([&] { return Has(Reasons(), "offline"); }, 15s)) << Reasons();
  const JobOutcome gaveUp = server_->Wait("zplnet", off, 30);
  EXPECT_EQ(gaveUp.state, IPP_JSTATE_CANCELED) << gaveUp.message;
  EXPECT_TRUE(Has(gaveUp.reasons, "aborted-by-system")) << gaveUp.reasons;
  EXPECT_NE(gaveUp.message.find("Unable to reach the printer. Gave up after waiting 6 seconds."), std::string::npos)
      << gaveUp.message;

  // Back on: the printer takes jobs again and prints them whole.
  sim_.Back();
  sim_.ClearReceived();
  const JobOutcome next = server_->Print("zplnet", pdf_, "application/pdf");
  EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message << server_->jobLog();
  EXPECT_FALSE(Has(Reasons(), "offline"));
  ASSERT_TRUE(WaitUntil([&] { return sim_.Received().size() >= reference_.size(); }, 5s));
  EXPECT_TRUE(sim_.Received() == reference_);
}

TEST(AppRecoveryOption, AnOddRecoveryTimeStopsTheServerWithTheReason) {
  for (const char *odd : {"-1", "ten", "999999999", ""}) {
    TempDir dir;
    FilterRun run;
    run.binary = AppBinary();
    run.env["LSAN_OPTIONS"] = LsanOptions();
    run.args = {"server", "-o", "server-port=1", "-o", "listen-hostname=localhost", "-o",
                "state-directory=" + dir.path(), "-o", std::string("recovery-timeout=") + odd};
    const FilterResult r = RunFilter(run);
    EXPECT_NE(r.exitStatus, 0) << odd;
    EXPECT_NE(r.err.find("recovery-timeout must be a whole number of seconds"), std::string::npos) << odd << r.err;
  }
}

}  // namespace
