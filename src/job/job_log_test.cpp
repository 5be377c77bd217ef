#include "job/job_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "job/job_contract.h"
#include "testing/scratch_directory.h"

namespace {

class JobLog : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = root_ + "/" + name;
    std::ofstream(path) << bytes;
    return path;
  }
  std::optional<Reason> refusal(const std::string& path, LogPart part = LogPart::whole) {
    const LogInput input = readLogInput(path, part);
    EXPECT_NE(input.bytes.has_value(), input.breach.has_value());
    if (input.breach) {
      EXPECT_EQ(input.breach->path, path);
    }
    return input.breach ? std::optional(input.breach->reason) : std::nullopt;
  }

  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
};

TEST_F(JobLog, TheHostsLogIsTakenWithinTheLimit) {
  const std::string atLimit(static_cast<std::size_t>(kMaxLogSize), 'x');
  EXPECT_EQ(readLogInput(write("log", atLimit), LogPart::whole).bytes, atLimit);
  EXPECT_EQ(refusal(write("big", atLimit + "y")), Reason::logTooLarge);
  // A link is followed: the host's log may be anywhere.
  std::filesystem::create_symlink(root_ + "/log", root_ + "/link");
  EXPECT_EQ(readLogInput(root_ + "/link", LogPart::whole).bytes, atLimit);
}

TEST_F(JobLog, WhatIsNoLogSaysWhatItIs) {
  EXPECT_EQ(refusal(root_ + "/missing"), Reason::logUnreadable);
  std::filesystem::create_directory(root_ + "/dir");
  EXPECT_EQ(refusal(root_ + "/dir"), Reason::logIsDirectory);
  ASSERT_EQ(::mkfifo((root_ + "/fifo").c_str(), 0600), 0);
  EXPECT_EQ(refusal(root_ + "/fifo"), Reason::logNotRegularFile) << "and the read does not block";
}

TEST_F(JobLog, TheNewestPartBeginsAtALine) {
  const std::string small = "one\ntwo\n";
  EXPECT_EQ(readLogInput(write("small", small), LogPart::newest).bytes, small);

  const std::string tail = "kept\n" + std::string(static_cast<std::size_t>(kMaxLogSize) - 5, 't');
  ASSERT_EQ(tail.size(), static_cast<std::size_t>(kMaxLogSize));
  // The window starts exactly at a line: all of it is kept.
  EXPECT_EQ(readLogInput(write("exact", "old line\n" + tail), LogPart::newest).bytes, tail);
  // The window starts inside "cut": that partial line goes.
  EXPECT_EQ(readLogInput(write("cut", "old\ncut" + tail), LogPart::newest).bytes, tail.substr(5));

  // A newest line longer than the limit is cut, never dropped to leave an
  // empty log: its newest bytes, from where a character begins.
  const std::string longLine = std::string(40000, 'z') + "END";
  EXPECT_EQ(readLogInput(write("oneline", longLine), LogPart::newest).bytes,
            longLine.substr(longLine.size() - static_cast<std::size_t>(kMaxLogSize)));
  const std::string ended = "old\n" + std::string(40000, 'y') + "\n";
  EXPECT_EQ(readLogInput(write("ended", ended), LogPart::newest).bytes,
            ended.substr(ended.size() - static_cast<std::size_t>(kMaxLogSize)));
  // "é" is two bytes; the window starts on the second of one: that byte goes.
  std::string accented;
  while (accented.size() < static_cast<std::size_t>(kMaxLogSize) + 1) accented += "\xc3\xa9";
  const auto cut = readLogInput(write("accented", "x" + accented + "z"), LogPart::newest).bytes;
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->size(), static_cast<std::size_t>(kMaxLogSize) - 1);
  EXPECT_EQ(cut->substr(0, 2), "\xc3\xa9");
}

TEST_F(JobLog, LogTxtInTheJobDirectoryIsTheUsersPrivateFile) {
  const auto directory = platform::Directory::openWithoutLinks(root_);
  ASSERT_TRUE(directory);
  const auto log = platform::childOf(*directory, "log.txt");
  const auto reasonOf = [&]() -> std::optional<Reason> {
    const auto breach = logBreach(log);
    if (breach) {
      EXPECT_EQ(breach->path, root_ + "/log.txt");
    }
    return breach ? std::optional(breach->reason) : std::nullopt;
  };
  EXPECT_EQ(reasonOf(), Reason::logUnreadable);
  std::filesystem::create_symlink(write("real", "x"), root_ + "/log.txt");
  EXPECT_EQ(reasonOf(), Reason::logLinked);
  std::filesystem::remove(root_ + "/log.txt");
  write("log.txt", "x");
  ASSERT_EQ(::chmod((root_ + "/log.txt").c_str(), 0604), 0);
  EXPECT_EQ(reasonOf(), Reason::logNotPrivate);
  ASSERT_EQ(::chmod((root_ + "/log.txt").c_str(), 0600), 0);
  EXPECT_EQ(reasonOf(), std::nullopt);
}

}  // namespace
