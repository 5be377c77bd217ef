#!/usr/bin/env python3
"""A host in Python, with the installed support_draft package: one job for
its bundle, with the bundle's own subject prefix and a log, started without
blocking and awaited in an asyncio loop.

    python_host.py BUNDLE
"""
import asyncio
import sys

import support_draft


async def main(bundle: str) -> int:
    try:
        prefix = support_draft.bundle_subject_prefix(bundle)
        job = support_draft.prepare_bundle_job(bundle, prefix + "package check from Python", "Hello", b"log\n")
    except support_draft.Refused as refusal:
        print("refused: %s (%s)" % (refusal.message, refusal.code))
        return 1
    with job, job.start(bundle) as run:
        try:
            report = await asyncio.wait_for(run.wait_async(), 30)
        except asyncio.TimeoutError:  # the program is left to finish
            report = support_draft.Report(support_draft.Outcome.TIMED_OUT)
    print(report.outcome.code + report.explanation)
    return 0 if report.outcome is support_draft.Outcome.OPENED else 1


if __name__ == "__main__":
    sys.exit(asyncio.run(main(sys.argv[1])))
