#!/usr/bin/env python3
"""Counts the test cases of one ctest run: prints "PASSED FAILED SKIPPED".

    scripts/count-tests.py CTEST_JSON CTEST_JUNIT GTEST_REPORT_DIR

CTEST_JSON is `ctest --show-only=json-v1`, CTEST_JUNIT is ctest's
--output-junit report, GTEST_REPORT_DIR is where GTEST_OUTPUT=xml:DIR/ let
each GoogleTest process write its report. A ctest test that runs a GoogleTest
program counts as that program's test cases; any other ctest test counts as
one case. A program that failed without a failing case in its report (it
crashed, or a sanitizer stopped it at exit) still counts as a failure, so no
failure goes uncounted.
"""

import json
import re
import sys
import xml.etree.ElementTree as ElementTree
from collections import defaultdict
from pathlib import Path


def program_of(test):
    """The name of the program a ctest test runs, without folder and .exe."""
    for word in test.get("command", []):
        name = Path(word).name
        if name != "wine-run" and not name.startswith("-"):
            return re.sub(r"\.exe$", "", name, flags=re.IGNORECASE)
    return test["name"]


def ctest_outcomes(junit_path):
    """Maps each ctest test's name to True (passed), False (failed) or None."""
    outcomes = {}
    if not junit_path.exists():
        return outcomes
    for case in ElementTree.parse(junit_path).getroot().iter("testcase"):
        status = case.get("status", "")
        outcomes[case.get("name")] = True if status == "run" else False if status == "fail" else None
    return outcomes


def gtest_counts(report_dir, program):
    """(passed, failed, skipped) over the reports program's runs wrote."""
    passed = failed = skipped = 0
    pattern = re.compile(re.escape(program) + r"(_\d+)?\.xml$")
    for report in report_dir.glob("*.xml"):
        if not pattern.fullmatch(report.name):
            continue
        for case in ElementTree.parse(report).getroot().iter("testcase"):
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            elif case.get("status") == "notrun" or case.get("result") in ("skipped", "suppressed"):
                skipped += 1
            else:
                passed += 1
    return passed, failed, skipped


def count(tests, outcomes, report_dir):
    by_program = defaultdict(list)
    for test in tests:
        by_program[program_of(test)].append(test["name"])
    totals = [0, 0, 0]
    for program, names in by_program.items():
        runs = [outcomes.get(name) for name in names]
        ctest_failed = runs.count(False)
        passed, failed, skipped = gtest_counts(report_dir, program)
        if passed + failed + skipped == 0:
            # Not a GoogleTest program: each ctest test is one case.
            passed, skipped = runs.count(True), runs.count(None)
        failed = max(failed, ctest_failed)
        for index, value in enumerate((passed, failed, skipped)):
            totals[index] += value
    return totals


def main():
    json_path, junit_path, report_dir = (Path(argument) for argument in sys.argv[1:4])
    tests = json.loads(json_path.read_text()).get("tests", [])
    print(*count(tests, ctest_outcomes(junit_path), report_dir))


if __name__ == "__main__":
    main()
