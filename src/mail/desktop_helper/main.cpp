// support-draft-desktop 3< REQUEST
//
// The host side of a draft asked for from inside a Flatpak sandbox: the
// Flatpak session service starts it on the host (support-draft-flatpak asks
// it to), with the request on descriptor 3. It carries out the very route
// a job outside any sandbox takes, with the host's facts (its MIME
// applications files, MAILER, desktop: the service's environment) and the
// log checked again here at the path the sandbox named, and says how it
// went in its exit status (HostStatus in host_route.h). It takes no
// arguments: the texts never appear in an argument vector.
#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "job/job_contract.h"
#include "job/job_home.h"
#include "mail/host_route.h"
#include "mail/mail_context.h"
#include "mail/program_search.h"
#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/file_io.h"

int main(int argc, char**) {
  if (argc != 1) return mail::kHostBadRequest;
  platform::UniqueFd request(::fcntl(mail::kHostRequestDescriptor, F_DUPFD_CLOEXEC, 3));
  if (!request) return mail::kHostBadRequest;
  ::close(mail::kHostRequestDescriptor);
  const std::optional<std::string> bytes = platform::readAtMost(request, mail::kMaxHostRequestSize + 1);
  if (!bytes || bytes->size() > mail::kMaxHostRequestSize) return mail::kHostBadRequest;
  const auto home = jobHome(platform::homeFacts()).home;
  if (!home) return mail::kHostBadRequest;
  const mail::MailContext context =
      mail::mailContext(mail::handedOnEnvironment(platform::processEnvironment()), *home,
                        platform::mainBundle().executableDirectory);
  return mail::openDraftOnHost(context, *bytes, kMaxLogSize);
}
