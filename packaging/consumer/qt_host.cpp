// A host with a Qt 6 event loop: it prepares one job for its bundle with
// the bundle's own subject prefix and a log, starts it without blocking,
// watches the run's descriptor with a QSocketNotifier while the loop keeps
// running, and prints the outcome's name.
#include <support_draft_host.hpp>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const auto prefix = support_draft::bundleSubjectPrefix(BUNDLE);
  if (!prefix.prefix) {
    std::cout << "refused: " << prefix.refusal << '\n';
    return 1;
  }
  const auto preparation = support_draft::prepareBundleJob(
      BUNDLE, "", {*prefix.prefix + "package check from Qt", "Hello", std::string("log\n")});
  if (!preparation.job) {
    std::cout << "refused: " << preparation.refusal << '\n';
    return 1;
  }
  auto start = support_draft::startJob(BUNDLE, *preparation.job);
  if (!start.run) {
    std::cout << "refused: " << start.refusal << '\n';
    return 1;
  }

  support_draft::RunReport report;
  {
    // Destroyed before the run is: the descriptor leaves the loop first.
    QSocketNotifier ended(start.run.descriptor(), QSocketNotifier::Read);
    QObject::connect(&ended, &QSocketNotifier::activated, [&] {
      report = support_draft::pollJob(start.run);
      if (report.outcome != support_draft::Outcome::running) {
        ended.setEnabled(false);
        application.quit();
      }
    });
    // The program still running at the time bound is left to finish.
    QTimer::singleShot(std::chrono::seconds(30), &application, [&] {
      report = {support_draft::Outcome::timedOut, ""};
      application.quit();
    });
    application.exec();
  }
  std::cout << support_draft::outcomeName(report.outcome) << report.explanation << '\n';
  return report.outcome == support_draft::Outcome::opened ? 0 : 1;
}
