// How long a request each known client takes whole. A client that is
// already running gets the request from a second process of its own, which
// forwards it; some forward it through a fixed buffer and cut it there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "mail/draft_route.h"

namespace mail {

// The longest argument `client` takes whole in every state (running or
// not); nothing when no limit is known short of the system's own.
//
// Claws Mail and Sylpheed running forward the command line to the running
// instance as one line read into an 8,192-byte buffer: a mailto: URI of
// about 8,190 characters or more was cut there (measured: the body cut,
// or empty where the cut split a character, and attach= lost). Whether a
// start will meet a running instance is not known before it is made, so the
// limit holds for every start.
std::optional<std::size_t> longestArgument(Client client);

// Whether every argument of `argv` is within what `client` takes whole.
bool fitsClient(Client client, const std::vector<std::string>& argv);

// Whether `client` reads the texts of its start `argv` as they were
// written. KMail decodes its mailto: URI's percent escapes twice (measured:
// a body's "%20", sent as "%2520", arrived as a blank, cold and running),
// so a text holding '%' and two hexadecimal digits would arrive altered.
bool keepsTexts(Client client, const std::vector<std::string>& argv);

// Whether `client`, set up, shows a composer for every request it takes,
// running or not. A running Sylpheed with a modal window of its own open
// (an earlier composer's alert) drops the request while its forwarding
// start exits 0 (measured); no file tells whether one is open, so its
// "opened" is a start only.
bool showsEveryRequest(Client client);

}  // namespace mail
