#include "mail/portal_answer.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

// The first name of the list that a backend claims decides, without ASCII
// case, whole names only; names no Email backend claims are passed over.
TEST(PortalAnswerTest, BackendIsTheOneThePortalPicksForTheDesktop) {
  const std::vector<std::pair<const char*, PortalBackend>> cases = {
      {"KDE", PortalBackend::Kde},
      {"kde", PortalBackend::Kde},
      {"GNOME", PortalBackend::Gtk},
      {"ubuntu:GNOME", PortalBackend::Gtk},
      {"GNOME-Flashback:GNOME", PortalBackend::Gtk},
      {"KDE:GNOME", PortalBackend::Kde},
      {"GNOME:KDE", PortalBackend::Gtk},
      {":KDE", PortalBackend::Kde},
      {"X-Cinnamon", PortalBackend::Unknown},
      {"KDEX", PortalBackend::Unknown},
      {"GNOME-Classic", PortalBackend::Unknown},
      {"", PortalBackend::Unknown},
      {nullptr, PortalBackend::Unknown},
  };
  for (const auto& [desktop, backend] : cases) {
    EXPECT_EQ(portalBackendForDesktop(desktop), backend) << (desktop ? desktop : "(unset)");
  }
}

// Only the KDE backend carries the log, and it alters texts holding '%'
// or an apostrophe; the others encode every text.
TEST(PortalAnswerTest, WhatEachBackendCarries) {
  EXPECT_TRUE(carriesAttachments(PortalBackend::Kde));
  EXPECT_FALSE(carriesAttachments(PortalBackend::Gtk));
  EXPECT_FALSE(carriesAttachments(PortalBackend::Unknown));
  for (const std::string_view text : {"100%", "%20", "it's", "/home/O'Neil/log.txt"}) {
    EXPECT_FALSE(carriesText(PortalBackend::Kde, text)) << text;
    EXPECT_TRUE(carriesText(PortalBackend::Gtk, text)) << text;
  }
  EXPECT_TRUE(carriesText(PortalBackend::Kde, "a,b \"q\" $(id) & y=z\n\tT\xC3\xBCrk\xC3\xA7" "e"));
  // A log path must not hold a comma either.
  EXPECT_FALSE(carriesLogPath(PortalBackend::Kde, "/home/Neil, J/log.txt"));
  EXPECT_FALSE(carriesLogPath(PortalBackend::Kde, "/home/O'Neil/log.txt"));
  EXPECT_TRUE(carriesLogPath(PortalBackend::Kde, "/home/Neil J\xC3\xB6rg/log.txt"));
  EXPECT_TRUE(carriesLogPath(PortalBackend::Gtk, "/home/Neil, J/log.txt"));
}

// The KDE backend answers the launcher's success as a truth value; the
// GTK backend answers as the portal documents; an unknown one is read as
// the GTK one. No answer in time is never an open draft.
TEST(PortalAnswerTest, EachBackendsAnswerMeansWhatThatBackendSays) {
  using M = PortalMeaning;
  struct Case {
    int status;
    M kde;
    M gtk;
  };
  const std::vector<Case> cases = {
      {kPortalResponse0, M::Failed, M::Opened},
      {kPortalResponse1, M::Opened, M::Cancelled},
      {kPortalResponseOther, M::Failed, M::Failed},
      {kPortalAccessDenied, M::PermissionDenied, M::PermissionDenied},
      {kPortalBadFile, M::Failed, M::Failed},
      {kPortalNoAnswer, M::Failed, M::Failed},
      {kPortalNoResponse, M::Opened, M::Failed},
      {kPortalUnreachable, M::Failed, M::Failed},
      {kPortalUsage, M::Failed, M::Failed},
      {77, M::Failed, M::Failed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(meaningOf(PortalBackend::Kde, c.status), c.kde) << c.status;
    EXPECT_EQ(meaningOf(PortalBackend::Gtk, c.status), c.gtk) << c.status;
    EXPECT_EQ(meaningOf(PortalBackend::Unknown, c.status), c.gtk) << c.status;
  }
}

}  // namespace
}  // namespace mail
