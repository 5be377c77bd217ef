// The whole road of a draft: the program runs the bundle's real mail draft
// script, which hands the draft to the system's xdg-email; MAILER points
// xdg-email at a recording composer that appends the mailto: URI it receives
// to a file. Decoding that URI must give back, byte for byte, what job.json
// held, with no locale in the environment, whatever shell, URI or escape
// syntax the texts contain.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "job_fixture.h"

namespace {

using namespace jobfixture;

constexpr std::string_view kPrefix = "Support Request - Quorvel ";

// ---------------------------------------------------------------------------
// Reading the recorded URI

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A character that may stand for itself in a mailto: query value; '&' and
// '=' may not (they delimit the fields), nor may blanks, controls, '%' outside
// an escape, '#', or any byte beyond ASCII.
bool isQueryCharacter(char c) {
  const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  return alphanumeric || std::string_view("-._~!$'()*+,;:@/?").find(c) != std::string_view::npos;
}

// The fields of "mailto:?k=v&k=v..." with their values percent-decoded (a
// '+' stays a '+'), or an explanation of what is wrong with the URI.
struct DecodedUri {
  std::map<std::string, std::string> fields;
  std::string error;
};

DecodedUri decodeMailto(std::string_view uri) {
  DecodedUri decoded;
  constexpr std::string_view kStart = "mailto:?";
  if (!uri.starts_with(kStart)) return {{}, "does not start with mailto:?"};
  std::string_view rest = uri.substr(kStart.size());
  while (!rest.empty()) {
    const std::string_view field = rest.substr(0, rest.find('&'));
    rest.remove_prefix(std::min(rest.size(), field.size() + 1));
    const auto equals = field.find('=');
    if (equals == std::string_view::npos) return {{}, "field without '=': " + std::string(field)};
    const std::string key(field.substr(0, equals));
    std::string value;
    for (std::size_t i = equals + 1; i < field.size(); ++i) {
      const char c = field[i];
      if (c == '%') {
        const int high = i + 2 < field.size() ? hexValue(field[i + 1]) : -1;
        const int low = i + 2 < field.size() ? hexValue(field[i + 2]) : -1;
        if (high < 0 || low < 0) return {{}, "broken escape in field " + key};
        value += static_cast<char>(high * 16 + low);
        i += 2;
      } else if (isQueryCharacter(c)) {
        value += c;
      } else {
        return {{}, "unencoded character " + std::to_string(static_cast<unsigned char>(c)) + " in field " + key};
      }
    }
    if (!decoded.fields.emplace(key, value).second) return {{}, "field given twice: " + key};
  }
  return decoded;
}

// ---------------------------------------------------------------------------
// The world: a home whose path needs quoting and encoding, the real script,
// and a composer that records what it is handed.

class MailHandoff : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    ASSERT_EQ(::access("/usr/bin/xdg-email", X_OK), 0) << "xdg-utils is not installed (scripts/deps.sh)";
    copyBuiltResource(bundle(), kScriptResource);
    makeDirectory(root() / "J\xC3\xB6rg M\xC3\xBCller", 0700);
    useHome(root() / "J\xC3\xB6rg M\xC3\xBCller" / "home");
    // MAILER is split at ':' and evaluated by xdg-email: keep its path plain.
    record_ = composerDir_.path() / "record";
    pidFile_ = composerDir_.path() / "pid";
    useComposer("");
  }

  void TearDown() override {
    // A composer left in the foreground by a test is ended here, by its own
    // recorded pid, so that it does not outlive the test.
    std::error_code error;
    if (fs::exists(pidFile_, error)) {
      const pid_t pid = static_cast<pid_t>(std::stol(readFile(pidFile_)));
      if (pid > 1) ::kill(pid, SIGTERM);
    }
  }

  // The composer records its first argument, then runs tail.
  void useComposer(std::string_view tail) {
    writeFile(composerPath(), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record_.string() + "'\n" + std::string(tail),
              0755);
  }

  fs::path composerPath() const { return composerDir_.path() / "composer"; }
  const fs::path& pidFile() const { return pidFile_; }

  // `overrides` replaces or adds environment variables.
  RunResult runHandOff(const RunOptions& options = {}, const Environment& overrides = {}) const {
    Environment env = minimalEnvironment(home());
    env["MAILER"] = composerPath().string();
    for (const auto& [name, value] : overrides) env[name] = value;
    return runJob(env, options);
  }

  // The URIs the composer received, one per call.
  std::vector<std::string> received() const {
    std::vector<std::string> uris;
    std::error_code error;
    if (!fs::exists(record_, error)) return uris;
    const std::string text = readFile(record_);
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find('\n', start);
      uris.push_back(text.substr(start, end - start));
      start = end == std::string::npos ? text.size() : end + 1;
    }
    return uris;
  }

 private:
  TempDir composerDir_;
  fs::path record_;
  fs::path pidFile_;
};

// ---------------------------------------------------------------------------
// Texts that survive the trip unchanged

struct TextCase {
  std::string name;
  std::string subject;
  std::string body;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

std::string subject(std::string_view rest) { return std::string(kPrefix) + std::string(rest); }

// The largest body the job document allows, of letters that each need
// encoding of some kind.
std::string largestBody() {
  std::string body;
  while (body.size() + 8 <= 8192) body += "\xC3\xBC\"$\\\n%&";
  body.resize(8192, 'x');
  return body;
}

std::vector<TextCase> textCases() {
  return {
      {"ShellSyntax", subject(R"("quoted" $(id) `uname` $HOME)"),
       R"(He said "hi"; $(rm -rf ~) `reboot` ${PATH} 'single' | & > /tmp/x)"},
      {"BackslashesAsText", subject(R"(C:\temp\new)"), R"(literal \n \c \\ \t \0101 \x41 \e end\)"},
      {"TabsAndLineBreaks", subject("tab\there"), "a\tb\nc\r\nd\re\n\n"},
      {"LeadingAndTrailingBlanks", subject("  spaced  "), "  padded body  "},
      {"NonAsciiLetters", subject("T\xC3\xBCrk\xC3\xA7" "e Stra\xC3\x9F" "e \xF0\x9F\x98\x80"),
       "Gr\xC3\xBC\xC3\x9F" "e, Fran\xC3\xA7ois \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\x89"},
      // Decomposed letters stay decomposed: nothing on the way normalises.
      {"DecomposedLetters", subject("Jo\x65\xCC\x88l"), "cafe\xCC\x81"},
      {"UriDelimiters", subject("50% off & more=less?#+"), "100% & a=b ? c # d + e / f ; g @ h %20 %zz mailto:x"},
      {"EmptyBody", subject("x"), ""},
      {"SubjectIsPrefixAlone", std::string(kPrefix), "b"},
      {"LargestBody", subject("big"), largestBody()},
  };
}

class TextTrip : public MailHandoff, public ::testing::WithParamInterface<std::tuple<TextCase, bool>> {};

TEST_P(TextTrip, ReachesComposerUnchanged) {
  const auto& [text, attachLogs] = GetParam();
  prepare(jobJson(text.subject, text.body, attachLogs), std::string_view("log line\n"));
  expectQuietExit(runHandOff());
  EXPECT_EQ(outcome(), opened());

  const auto uris = received();
  ASSERT_EQ(uris.size(), 1u) << "composer calls";
  const DecodedUri decoded = decodeMailto(uris[0]);
  ASSERT_EQ(decoded.error, "") << uris[0];
  std::map<std::string, std::string> expected = {{"subject", text.subject}, {"body", text.body}};
  if (attachLogs) expected["attach"] = (jobDir() / "log.txt").string();
  // An empty body may also be left out of the URI altogether.
  std::map<std::string, std::string> actual = decoded.fields;
  if (text.body.empty() && !actual.contains("body")) actual["body"] = "";
  EXPECT_EQ(actual, expected) << uris[0];
}

std::string textTripName(const ::testing::TestParamInfo<std::tuple<TextCase, bool>>& info) {
  return std::get<0>(info.param).name + (std::get<1>(info.param) ? "WithLog" : "WithoutLog");
}

INSTANTIATE_TEST_SUITE_P(Texts, TextTrip, ::testing::Combine(::testing::ValuesIn(textCases()), ::testing::Bool()),
                         textTripName);

// ---------------------------------------------------------------------------
// How the composer ends

TEST_F(MailHandoff, FailingComposerFailsTheDraft) {
  useComposer("exit 1\n");
  prepare();
  expectQuietExit(runHandOff());
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), failed());
}

// A mail client started cold stays in the foreground. The program must not
// wait for it, nor leave it holding the host's output streams. The bound is
// generous: it tells a hang from a return, not fast from slow.
TEST_F(MailHandoff, ComposerInForegroundDoesNotHoldTheJob) {
  useComposer("echo $$ > '" + pidFile().string() + "'\nexec sleep 30\n");
  prepare();
  RunOptions options;
  options.timeout = std::chrono::seconds(25);
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = runHandOff(options);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  expectQuietExit(result);
  EXPECT_FALSE(result.outputLeftOpen) << "the composer inherited the program's output";
  EXPECT_LT(elapsed, std::chrono::seconds(15));
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
}

// ---------------------------------------------------------------------------
// What the host's process setup may not change

// Hosts written in some languages ignore SIGCHLD, and that survives exec;
// the composer's end must still be seen.
TEST_F(MailHandoff, ParentIgnoringChildSignalsStillOpensTheDraft) {
  prepare();
  RunOptions options;
  options.ignoredSignals = {SIGCHLD};
  expectQuietExit(runHandOff(options));
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
}

// Whoever chose the current directory does not choose the hand-off: empty
// and relative PATH entries are never searched, and what the hand-off
// starts in turn gets only the absolute entries.
TEST_F(MailHandoff, CurrentDirectoryIsNeverSearched) {
  const fs::path current = root() / "current";
  const fs::path decoyRan = root() / "decoy-ran";
  const fs::path composerPath = root() / "composer-path";
  makeDirectory(current, 0755);
  writeFile(current / "xdg-email", "#!/bin/sh\ntouch '" + decoyRan.string() + "'\n", 0755);
  useComposer("printf '%s' \"$PATH\" > '" + composerPath.string() + "'\n");
  prepare();
  RunOptions options;
  options.workingDirectory = current;
  expectQuietExit(runHandOff(options, {{"PATH", ".::/usr/bin:bin:/bin:"}}));
  EXPECT_FALSE(fs::exists(decoyRan)) << "xdg-email was taken from the current directory";
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
  EXPECT_EQ(readFile(composerPath), "/usr/bin:/bin");
}

}  // namespace
