// The job runner: one job per process, driven by the command line.
#pragma once

// Runs the job that the command line names, if it is a well-formed job
// command line. Every rejection before the job document is accepted is a
// silent stop; from then on the outcome goes to result.json. Never throws.
void processJob() noexcept;
