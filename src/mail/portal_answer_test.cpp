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

// Only the KDE backend carries the log. It hands the texts on raw: what
// its Thunderbird field parser or a mailto: URI decoder reads differently
// is refused, everything else it carried intact is admitted. The GTK
// backend encodes every text.
TEST(PortalAnswerTest, WhatEachBackendCarries) {
  EXPECT_TRUE(carriesAttachments(PortalBackend::Kde));
  EXPECT_FALSE(carriesAttachments(PortalBackend::Gtk));
  EXPECT_FALSE(carriesAttachments(PortalBackend::Unknown));
  struct Case {
    std::string_view text;
    bool kde;
  };
  const Case cases[] = {
      {"it's", true},
      {"100%", true},
      {"%", true},
      {"%zz", true},
      {"50%-60%", true},
      {"%2", true},
      {"ends'", true},
      {"' ,", true},
      {"a, b ,c", true},
      {"a,b \"q\" $(id) & y=z\n\tT\xC3\xBCrk\xC3\xA7" "e", true},
      {"%20", false},
      {"a%41b", false},
      {"%e2%82%ac", false},
      {"%2F", false},
      {"100% %4", true},
      {"x %4f", false},
      {"first', second", false},
      {"',", false},
      {"", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(carriesText(PortalBackend::Kde, c.text), c.kde) << c.text;
    EXPECT_TRUE(carriesText(PortalBackend::Gtk, c.text)) << c.text;
    EXPECT_TRUE(carriesText(PortalBackend::Unknown, c.text)) << c.text;
  }
  struct PathCase {
    std::string_view path;
    bool kde;
    bool gtk;
  };
  const PathCase paths[] = {
      {"/home/neil/.vantrel-devtool/support-drafts/0f1e-a_b~c/log.txt", true, true},
      {"/home/Neil J\xC3\xB6rg/log.txt", true, false},
      {"/home/100%/log.txt", true, false},
      {"/home/a&b+c/log.txt", true, false},
      {"/home/a#b/log.txt", true, false},
      {"/home/Neil, J/log.txt", false, false},
      {"/home/O'Neil/log.txt", true, false},
      {"/home/O',Neil/log.txt", false, false},
      {"/home/dir%20x/log.txt", false, false},
  };
  for (const PathCase& c : paths) {
    EXPECT_EQ(carriesLogPath(PortalBackend::Kde, c.path), c.kde) << c.path;
    EXPECT_EQ(carriesLogPath(PortalBackend::Gtk, c.path), c.gtk) << c.path;
  }
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

// The KDE backend's silence counts from the call, as a direct route's grace
// time counts from the start, so a portal that takes a while to take the
// call does not push the report past the grace time; still, a backend
// always has a little time after the reply to say that it started nothing,
// and nothing is awaited past the whole deadline. A backend that may show
// a chooser keeps the whole deadline.
TEST(PortalAnswerTest, ResponseIsAwaitedFromTheCallWithTimeLeftAfterTheReply) {
  using std::chrono::milliseconds;
  const std::chrono::steady_clock::time_point sent{};
  const auto at = [&](int ms) { return sent + milliseconds(ms); };
  const auto kde = portalResponseTime(PortalBackend::Kde, kPortalDeadline);
  const auto deadline = at(static_cast<int>(kPortalDeadline.count()));
  EXPECT_EQ(responseDeadline(sent, at(300), kde, deadline), at(5000)) << "a quick reply";
  EXPECT_EQ(responseDeadline(sent, at(2000), kde, deadline), at(5000)) << "a portal started on demand";
  EXPECT_EQ(responseDeadline(sent, at(4500), kde, deadline), at(6000)) << "a slow portal";
  EXPECT_EQ(responseDeadline(sent, at(24000), kde, deadline), deadline) << "past the deadline";
  // A response time shorter than the least time after the reply is all
  // the time given after it.
  EXPECT_EQ(responseDeadline(sent, at(4500), milliseconds(300), deadline), at(4800)) << "a short response time";
  const auto gtk = portalResponseTime(PortalBackend::Gtk, kPortalDeadline);
  EXPECT_EQ(responseDeadline(sent, at(300), gtk, deadline), deadline);
  EXPECT_EQ(portalResponseTime(PortalBackend::Unknown, kPortalDeadline), kPortalDeadline);
}

}  // namespace
}  // namespace mail
