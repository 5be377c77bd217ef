// Prepares one job for the installed bundle, runs it and prints the outcome.
//   consumer dev|prod
#include <support_draft_host.hpp>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  const std::string channel = argc > 1 ? argv[1] : "prod";
  support_draft::JobPlace place;
  place.channel = channel == "dev" ? support_draft::Channel::dev : support_draft::Channel::prod;
  const auto preparation =
      support_draft::prepareJob(place, {"Support Request - Quorvel package check", "Hello", std::string("log\n")});
  if (!preparation.job) {
    std::cout << "refused: " << preparation.refusal << '\n';
    return 1;
  }
  const auto report = support_draft::runJob(BUNDLE, *preparation.job, std::chrono::seconds(30));
  std::cout << support_draft::outcomeName(report.outcome) << report.explanation << '\n';
  return report.outcome == support_draft::Outcome::opened ? 0 : 1;
}
