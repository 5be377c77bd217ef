// Prepares one job for the bundle, runs it and prints the outcome. The
// subject begins with the bundle's own prefix, read from the bundle as the
// program reads it.
#include <support_draft_host.hpp>

#include <iostream>
#include <string>

int main() {
  const auto prefix = support_draft::bundleSubjectPrefix(BUNDLE);
  if (!prefix.prefix) {
    std::cout << "refused: " << prefix.refusal << '\n';
    return 1;
  }
  const auto preparation =
      support_draft::prepareBundleJob(BUNDLE, "", {*prefix.prefix + "package check", "Hello", std::string("log\n")});
  if (!preparation.job) {
    std::cout << "refused: " << preparation.refusal << '\n';
    return 1;
  }
  const auto report = support_draft::runJob(BUNDLE, *preparation.job, std::chrono::seconds(30));
  std::cout << support_draft::outcomeName(report.outcome) << report.explanation << '\n';
  return report.outcome == support_draft::Outcome::opened ? 0 : 1;
}
