#include "mail/client_setup_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/file_io.h"
#include "testing/scratch_directory.h"

namespace mail {
namespace {

namespace fs = std::filesystem;
using State = ConfigFile::State;

class UserClientFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home() / ".claws-mail");
    fs::create_directories(outside());
  }
  fs::path home() const { return fs::path(scratch_.path()) / "home"; }
  fs::path outside() const { return fs::path(scratch_.path()) / "elsewhere"; }
  UserClientFiles files() const { return UserClientFiles({home().string(), (home() / ".config").string(), ""}); }

  static void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

 private:
  testing_support::ScratchDirectory scratch_;
};

TEST_F(UserClientFilesTest, ReadsOnlyRegularFilesWithinTheirBase) {
  write(home() / ".claws-mail" / "accountrc", "[Account: 1]\n");
  write(outside() / "accountrc", "[Account: 9]\n");
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail/accountrc").text, "[Account: 1]\n");
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail/missing").state, State::Missing);
  EXPECT_EQ(files().read(FileBase::DataHome, ".claws-mail/accountrc").state, State::Unreadable) << "no data home";

  // A link that stays in the home is followed; one that leads out is not.
  fs::create_directories(home() / "Mail");
  write(home() / "Mail" / "real-accountrc", "[Account: 2]\n");
  fs::create_symlink("../Mail/real-accountrc", home() / ".claws-mail" / "inside");
  fs::create_symlink(outside() / "accountrc", home() / ".claws-mail" / "outside");
  fs::create_symlink(outside(), home() / ".sylpheed-2.0");
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail/inside").text, "[Account: 2]\n");
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail/outside").state, State::Unreadable);
  EXPECT_EQ(files().read(FileBase::Home, ".sylpheed-2.0/accountrc").state, State::Unreadable);
  // Paths that climb or are absolute are not looked at.
  EXPECT_EQ(files().read(FileBase::Home, "../elsewhere/accountrc").state, State::Unreadable);
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail/../../elsewhere/accountrc").state, State::Unreadable);
  EXPECT_EQ(files().read(FileBase::Home, (outside() / "accountrc").string()).state, State::Unreadable);
}

TEST_F(UserClientFilesTest, HugeFilesFifosAndDirectoriesAreNotRead) {
  write(home() / "big", std::string(UserClientFiles::kMaxConfigFileSize + 1, 'x'));
  write(home() / "largest", std::string(UserClientFiles::kMaxConfigFileSize, 'x'));
  ASSERT_EQ(::mkfifo((home() / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(files().read(FileBase::Home, "big").state, State::Unreadable);
  EXPECT_EQ(files().read(FileBase::Home, "largest").text.size(), UserClientFiles::kMaxConfigFileSize);
  // Opening a FIFO without a writer would block a reader that waits.
  EXPECT_EQ(files().read(FileBase::Home, "fifo").state, State::Unreadable);
  EXPECT_EQ(files().read(FileBase::Home, ".claws-mail").state, State::Unreadable);
}

TEST_F(UserClientFilesTest, ListsADirectoryBoundedAndSorted) {
  for (int i = 0; i < 100; ++i) write(home() / ".config" / "geary" / ("account_" + std::to_string(100 + i)) / "x", "");
  const auto names = files().list(FileBase::ConfigHome, "geary");
  ASSERT_EQ(names.size(), UserClientFiles::kMaxListed);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_TRUE(files().list(FileBase::ConfigHome, "none").empty());
}

// The profile's lock as Thunderbird takes it: a POSIX lock on .parentlock,
// held here by a child process, and the older link.
TEST_F(UserClientFilesTest, ProfileLockNamesTheHoldersSession) {
  const fs::path profile = home() / ".thunderbird" / "p.default";
  write(profile / ".parentlock", "");
  EXPECT_EQ(files().profileLock(FileBase::Home, ".thunderbird/p.default").state, ProfileLock::State::Free);

  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open((profile / ".parentlock").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const char done = ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
    [[maybe_unused]] const auto written = ::write(ready[1], &done, 1);
    char byte;
    [[maybe_unused]] const auto read = ::read(release[0], &byte, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ASSERT_EQ(done, 'y');
  const ProfileLock held = files().profileLock(FileBase::Home, ".thunderbird/p.default");
  ::close(release[1]);
  ::close(ready[0]);
  int status = 0;
  ::waitpid(child, &status, 0);

  EXPECT_EQ(held.state, ProfileLock::State::HeldHere);
  ASSERT_TRUE(held.holder.has_value()) << "the holder's environment is this process's";
  const auto ours = platform::readWholeFile("/proc/self/environ", 1 << 20);
  ASSERT_TRUE(ours.has_value());
  EXPECT_EQ(*held.holder, sessionOfEnvironment(*ours));
  EXPECT_EQ(files().profileLock(FileBase::Home, ".thunderbird/p.default").state, ProfileLock::State::Free)
      << "a lock ends with its holder";

  // The older form: "ADDRESS:PID", "+PID" standing beside a POSIX lock.
  fs::create_symlink("127.0.0.1:+" + std::to_string(::getpid()), profile / "lock");
  EXPECT_EQ(files().profileLock(FileBase::Home, ".thunderbird/p.default").state, ProfileLock::State::Free);
  fs::remove(profile / "lock");
  fs::create_symlink("127.0.0.1:" + std::to_string(::getpid()), profile / "lock");
  EXPECT_EQ(files().profileLock(FileBase::Home, ".thunderbird/p.default").state, ProfileLock::State::HeldHere);
  fs::remove(profile / "lock");
  // A process id no process has (above the kernel's largest).
  fs::create_symlink("10.0.0.7:4194305", profile / "lock");
  EXPECT_EQ(files().profileLock(FileBase::Home, ".thunderbird/p.default").state, ProfileLock::State::Unknown);
}

TEST(SessionOfEnvironmentTest, ReadsTheBusAndTheDisplays) {
  using namespace std::string_literals;
  const std::string environment =
      "HOME=/home/u\0DISPLAY=:1\0DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/b,guid=1\0WAYLAND_DISPLAY=wayland-0\0X"s;
  EXPECT_EQ(sessionOfEnvironment(environment), (SessionIdentity{"unix:path=/tmp/b,guid=1", ":1", "wayland-0"}));
  EXPECT_EQ(sessionOfEnvironment(""), SessionIdentity{});
}

}  // namespace
}  // namespace mail
