// Desktop entries' Exec lines as the program reads them, side by side with
// GLib's reading of the same entries (GLib launches each through
// tests/support/glib_launch.py, and stand-ins record what it started).
// Where the two part, the case says how: the program refuses a line that
// breaks the rules GLib is lenient about (an unquoted reserved character,
// a field code inside an argument or quotes, an unknown one), and keeps
// the URI where GLib lets a deprecated field code take it. Runs where
// python3-gi is installed; skipped elsewhere.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "mail/desktop_entry.h"

namespace {

using namespace harness;
using Words = std::vector<std::string>;

enum class Expect {
  Same,          // both start the same words, or both start nothing
  OnlyGlibRuns,  // the line breaks the rules: the program refuses it
  Differ,        // both start it, with other words
};

struct EntryCase {
  std::string name;
  std::string exec;  // the Exec value as the file holds it; "" for none
  bool terminal = false;
  std::string tryExec;
  Expect expect = Expect::Same;
};

constexpr std::string_view kUri = "mailto:help@example.org?subject=a%20b&body=c";

EntryCase entry(std::string name, std::string exec, bool terminal = false, std::string tryExec = "",
                Expect expect = Expect::Same) {
  return {std::move(name), std::move(exec), terminal, std::move(tryExec), expect};
}

std::vector<EntryCase> entryCases() {
  using E = Expect;
  return {
      entry("plain", "client %u"),
      entry("uri-list", "client %U"),
      entry("absolute-path-with-blank", R"("@DIR@/my mail/m" %u)"),
      entry("quoted-argument", R"(client -x "a b" %u)"),
      entry("escapes-in-quotes", R"(client "with \\"quote\\"" "dollar \\$x \\`y\\` \\\\" %u)"),
      entry("reserved-in-quotes", R"(client "semi;colon|pipe&<>~*?#()'" %u)"),
      entry("literal-percent", R"(client %%u 100%% "50%%" %u)"),
      entry("icon-name-location", "client %i %c %k %u"),
      entry("no-field-code", "client"),
      entry("file-code", "client %f"),
      entry("file-list-code", "client -a %F"),
      entry("env-wrapper", "env A=b client %u"),
      entry("env-quoted-assignment", R"(env "A=b c" client -P work %u)"),
      entry("shell-wrapper", R"(sh -c "client \\"\\$1\\"" sh %u)"),
      entry("terminal-in-line", "xterm -e client %u"),
      entry("terminal-title", "xterm -T client -e client %u"),
      entry("profile-option", "thunderbird -P work %u"),
      entry("flatpak", "flatpak run --branch=stable org.mozilla.Thunderbird @@u %u @@"),
      entry("terminal-key", "client %u", true),
      entry("terminal-key-and-terminal", "xterm -e client %u", true),
      entry("terminal-client", "neomutt %u", true),
      entry("many-blanks", "client  a   b  %u"),
      entry("space-escape-splits", R"(client a\sb %u)"),
      entry("space-escape-quoted", R"(client "a\sb" %u)"),
      entry("empty-argument", R"(client "" %u)"),
      entry("tab-in-quotes", "client \"tab\there\" %u"),
      entry("option-value", "client --flag=x %U"),
      entry("try-exec-missing", "client %u", false, "missing-program"),
      entry("try-exec-present", "client %u", false, "client"),
      entry("unterminated-quote", R"(client "open %u)"),
      entry("no-exec", ""),
      entry("two-targets", "client %u %U", false, "", E::OnlyGlibRuns),
      entry("single-quotes", "client 'single quoted' %u", false, "", E::OnlyGlibRuns),
      entry("unquoted-reserved", "client $HOME ~/x a;b %u", false, "", E::OnlyGlibRuns),
      entry("quoted-field-code", R"(client "%u")", false, "", E::OnlyGlibRuns),
      entry("embedded-field-code", "client --x=%u", false, "", E::OnlyGlibRuns),
      entry("unknown-field-code", "client %x %u", false, "", E::OnlyGlibRuns),
      entry("invalid-string-escape", R"(client "a\qb" %u)", false, "", E::OnlyGlibRuns),
      entry("lone-backslash-in-quotes", R"(client "x\\y" %u)", false, "", E::OnlyGlibRuns),
      entry("partly-quoted", R"(client a"b c"d %u)", false, "", E::OnlyGlibRuns),
      entry("deprecated-code", "client %d a%db %u", false, "", E::Differ),
  };
}

std::string replaced(std::string text, std::string_view from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// What the program would start for the entry, given the URI, as GLib
// starts it: a %f or %F target takes no URI; Terminal=true goes through
// the first terminal found (the stand-in xterm). The program's name as the
// stand-in records it, without its directory.
std::optional<Words> ours(const std::vector<std::string>& dataDirs, const std::string& id, const std::string& path) {
  const auto entry = mail::findDesktopEntry(dataDirs, id, path);
  if (!entry) return std::nullopt;
  Words words;
  if (entry->terminal) words = {"xterm", "-e"};
  for (const mail::ExecWord& word : entry->exec) {
    if (!word.target) {
      words.push_back(word.text);
    } else if (word.text == "%u" || word.text == "%U") {
      words.emplace_back(kUri);
    }
  }
  std::string& program = words[entry->terminal ? 2 : 0];
  program = fs::path(program).filename().string();
  return words;
}

TEST(ExecLineAgainstGlib, EntriesAreReadAsGlibReadsThem) {
  TempDir tree;
  const fs::path& root = tree.path();
  const fs::path applications = root / "data" / "applications";
  const fs::path bin = root / "bin";
  const fs::path records = root / "records";
  for (const fs::path& dir : {applications, bin, records, root / "my mail"}) fs::create_directories(dir);
  const std::string recorder =
      "#!/bin/sh\n{ printf '%s\\0' \"${0##*/}\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > \"$RECORD\"\n";
  for (const char* name : {"client", "env", "sh", "xterm", "thunderbird", "flatpak", "neomutt"}) {
    writeFile(bin / name, recorder, 0755);
  }
  writeFile(root / "my mail" / "m", recorder, 0755);

  const std::vector<EntryCase> cases = entryCases();
  ASSERT_GE(cases.size(), 30u);
  for (const EntryCase& c : cases) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Mail\nIcon=mail-icon\n";
    if (!c.exec.empty()) text += "Exec=" + replaced(c.exec, "@DIR@", root.string()) + "\n";
    if (c.terminal) text += "Terminal=true\n";
    if (!c.tryExec.empty()) text += "TryExec=" + c.tryExec + "\n";
    writeFile(applications / (c.name + ".desktop"), text, 0644);
  }

  Environment env = minimalEnvironment(root);
  const RunResult glib =
      run("/usr/bin/python3",
          {(fs::path(SUPPORT_DRAFT_SOURCE_DIR) / "tests" / "support" / "glib_launch.py").string(), applications.string(),
           bin.string(), records.string(), std::string(kUri)},
          env);
  if (glib.exitStatus == 3 || (glib.exitStatus != 0 && ::access("/usr/bin/python3", X_OK) != 0)) {
    GTEST_SKIP() << "python3-gi is not installed";
  }
  ASSERT_EQ(glib.exitStatus, 0) << describe(glib);
  const nlohmann::json started = nlohmann::json::parse(glib.out);

  const std::vector<std::string> dataDirs = {(root / "data").string()};
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.exec);
    const nlohmann::json& theirs = started.at(c.name + ".desktop");
    const std::optional<Words> mine = ours(dataDirs, c.name + ".desktop", bin.string());
    switch (c.expect) {
      case Expect::Same:
        if (theirs.is_null()) {
          EXPECT_FALSE(mine.has_value()) << "GLib starts nothing";
        } else {
          ASSERT_TRUE(mine.has_value()) << "GLib starts " << theirs.dump();
          EXPECT_EQ(*mine, theirs.get<Words>());
        }
        break;
      case Expect::OnlyGlibRuns:
        EXPECT_FALSE(theirs.is_null()) << "GLib refuses it too: the case no longer shows a difference";
        EXPECT_FALSE(mine.has_value());
        break;
      case Expect::Differ:
        ASSERT_FALSE(theirs.is_null());
        ASSERT_TRUE(mine.has_value());
        EXPECT_NE(*mine, theirs.get<Words>());
        break;
    }
  }
}

}  // namespace
