#include "mail/flatpak_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mail {
namespace {

// As Flatpak 1.14 writes it for an application run with
// --talk-name=org.freedesktop.Flatpak (abridged).
const std::string kReal =
    "[Application]\n"
    "name=com.quorvel.SupportDraft\n"
    "runtime=runtime/org.freedesktop.Platform/x86_64/23.08\n"
    "\n"
    "[Instance]\n"
    "instance-id=2394871234\n"
    "app-path=/var/lib/flatpak/app/com.quorvel.SupportDraft/x86_64/stable/0a1b/files\n"
    "app-commit=0a1b\n"
    "flatpak-version=1.14.10\n"
    "session-bus-proxy=true\n"
    "\n"
    "[Context]\n"
    "shared=network;ipc;\n"
    "sockets=x11;wayland;pulseaudio;\n"
    "filesystems=home;\n"
    "\n"
    "[Session Bus Policy]\n"
    "org.freedesktop.Flatpak=talk\n"
    "org.freedesktop.Notifications=talk\n";

const std::string kAppPath = "/var/lib/flatpak/app/com.quorvel.SupportDraft/x86_64/stable/0a1b/files";

std::string withPolicy(const std::string& lines) {
  return "[Instance]\napp-path=" + kAppPath + "\n[Session Bus Policy]\n" + lines;
}

TEST(FlatpakInfoTest, RealFileGrantsTheServiceAndNamesTheAppPath) {
  const FlatpakInfo info = readFlatpakInfo(kReal);
  EXPECT_TRUE(info.mayTalkToFlatpakService);
  EXPECT_EQ(info.appPath, kAppPath);
}

// Which policies let the sandbox talk to the service: the name itself or a
// pattern above it, with talk or own; the last of a repeated key; the whole
// session bus without a proxy.
TEST(FlatpakInfoTest, WhatGrantsTheService) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {withPolicy("org.freedesktop.Flatpak=talk\n"), true},
      {withPolicy("org.freedesktop.Flatpak=own\n"), true},
      {withPolicy("org.freedesktop.Flatpak = talk\n"), true},
      {withPolicy("  org.freedesktop.Flatpak=talk\r\n"), true},
      {withPolicy("org.freedesktop.*=talk\n"), true},
      {withPolicy("org.*=own\n"), true},
      {withPolicy("org.freedesktop.Flatpak=see\n"), false},
      {withPolicy("org.freedesktop.Flatpak=none\n"), false},
      {withPolicy("org.freedesktop.Flatpak=Talk\n"), false},
      {withPolicy("org.freedesktop.Flatpak=talk \n"), false},
      {withPolicy("org.freedesktop.Flatpak=talk;\n"), false},
      {withPolicy("org.freedesktop.Flatpak=\n"), false},
      {withPolicy("org.freedesktop.Flatpak.Development=talk\n"), false},
      {withPolicy("org.freedesktop.Flatpak.*=talk\n"), false},
      {withPolicy("org.freedesktop.Flatpa*=talk\n"), false},
      {withPolicy("org.freedesktop.FlatpakX=talk\n"), false},
      {withPolicy("org.freedesktop.Flatpak[de]=talk\n"), false},
      {withPolicy("org.freedesktop.portal.*=talk\n"), false},
      {withPolicy("# org.freedesktop.Flatpak=talk\n"), false},
      {withPolicy("org.freedesktop.Flatpak=talk\norg.freedesktop.Flatpak=none\n"), false},
      {withPolicy("org.freedesktop.Flatpak=none\norg.freedesktop.Flatpak=talk\n"), true},
      // The most generous matching key counts, as the proxy applies it.
      {withPolicy("org.freedesktop.Flatpak=none\norg.freedesktop.*=talk\n"), true},
      // A group named twice is one group.
      {withPolicy("a.b=talk\n[Context]\nshared=ipc;\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n"), true},
      // The grant only counts in its own group.
      {"[Context]\norg.freedesktop.Flatpak=talk\n", false},
      {"[System Bus Policy]\norg.freedesktop.Flatpak=talk\n", false},
      {"[Session Bus Policy ]\norg.freedesktop.Flatpak=talk\n", false},
      {"[session bus policy]\norg.freedesktop.Flatpak=talk\n", false},
      {"[Session Bus Policy]  \norg.freedesktop.Flatpak=talk\n", true},
      // The whole bus, and its withdrawal.
      {"[Context]\nsockets=x11;session-bus;\n", true},
      {"[Context]\nsockets=session-bus\n", true},
      {"[Context]\nsockets=x11;!session-bus;\n", false},
      {"[Context]\nsockets=session-bus;!session-bus;\n", false},
      {"[Context]\nsockets=system-bus;\n", false},
      {"[Context]\nsockets=session-bus-x;\n", false},
      {"", false},
  };
  for (const auto& [text, granted] : cases) {
    EXPECT_EQ(readFlatpakInfo(text).mayTalkToFlatpakService, granted) << text;
  }
}

// A file that is not a well-formed key file says nothing at all, however
// plain its grant looks: Flatpak itself would not have read it.
TEST(FlatpakInfoTest, MalformedFileSaysNothing) {
  const std::string grant = "[Instance]\napp-path=/a\n[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n";
  const std::vector<std::string> hostile = {
      "org.freedesktop.Flatpak=talk\n" + grant,          // a key before any group
      grant + "just words\n",                             // neither key nor group
      grant + "=talk\n",                                  // no key
      grant + "[Unclosed\n",                              // a broken group header
      grant + "[]\n",                                     // an empty group name
      grant + "[a]b]\n",                                  // text after the header
      grant + "[a[b]\n",
      grant + "[a\x01]\n",                                // a control character in a name
      grant + std::string("x=\0y\n", 5),                  // a NUL byte
      grant + "x=\xff\xfe\n",                             // not UTF-8
      grant + "x=\xc0\xaf\n",                             // an overlong form
      grant + "x=" + std::string(kMaxFlatpakInfoSize, 'a') + "\n",  // larger than any real one
  };
  for (const std::string& text : hostile) {
    const FlatpakInfo info = readFlatpakInfo(text);
    EXPECT_FALSE(info.mayTalkToFlatpakService) << text.substr(0, 120);
    EXPECT_EQ(info.appPath, "") << text.substr(0, 120);
  }
  // A broken escape in a value only spoils that value.
  EXPECT_FALSE(readFlatpakInfo(withPolicy("org.freedesktop.Flatpak=ta\\lk\n")).mayTalkToFlatpakService);
  EXPECT_TRUE(readFlatpakInfo(withPolicy("org.freedesktop.Flatpak=t\\x\nother=talk\\\norg.freedesktop.*=talk\n"))
                  .mayTalkToFlatpakService);
}

// Only a plain absolute app-path is taken, escapes read as the file's
// writer meant them; anything else leaves the host path unknown.
TEST(FlatpakInfoTest, AppPathIsTakenOnlyWhenPlain) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/var/lib/flatpak/app/x/files", "/var/lib/flatpak/app/x/files"},
      {"/home/u/.local/share/flatpak/app/x/files", "/home/u/.local/share/flatpak/app/x/files"},
      {"/opt/a\\sb", "/opt/a b"},
      {"\\s/opt", ""},
      {"", ""},
      {"relative/files", ""},
      {"/", ""},
      {"/opt/../etc", ""},
      {"/opt/./x", ""},
      {"/opt//x", ""},
      {"/opt/x/", ""},
      {"/opt/a\\nb", ""},
      {"/opt/a\\qb", ""},
  };
  for (const auto& [written, taken] : cases) {
    EXPECT_EQ(readFlatpakInfo("[Instance]\napp-path=" + written + "\n").appPath, taken) << written;
  }
  EXPECT_EQ(readFlatpakInfo("[Instance]\napp-path=/a\napp-path=/b\n").appPath, "/b");
  EXPECT_EQ(readFlatpakInfo("[Application]\napp-path=/a\n").appPath, "");
}

TEST(FlatpakInfoTest, AppFilesMapToTheHostUnderTheAppPath) {
  const std::string helper = "/app/lib/SupportDraft.app/Contents/MacOS/support-draft-desktop";
  EXPECT_EQ(hostPathOfAppFile(helper, "/var/lib/flatpak/app/x/files"),
            "/var/lib/flatpak/app/x/files/lib/SupportDraft.app/Contents/MacOS/support-draft-desktop");
  EXPECT_EQ(hostPathOfAppFile(helper, ""), "");
  // Only files under /app are the application's; the runtime's and the
  // sandbox's own are not on the host at any known place.
  EXPECT_EQ(hostPathOfAppFile("/usr/bin/support-draft-desktop", "/x"), "");
  EXPECT_EQ(hostPathOfAppFile("/application/x", "/x"), "");
  EXPECT_EQ(hostPathOfAppFile("/app", "/x"), "");
  EXPECT_EQ(hostPathOfAppFile("/app/../etc/x", "/x"), "");
}

}  // namespace
}  // namespace mail
