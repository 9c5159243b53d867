"""Reads metrics pages with prometheus_client's parsers, which refuse what
the formats forbid (OpenMetrics: a missing # EOF, clashing names, bad
escapes, a sample after # EOF), and prints each family as
"name type samples".

A sample whose name does not belong to the family declared before it (a
counter's sample without _total) makes a parser open an untyped family of
its own; that is refused here too, so every family keeps its declared type.

Usage: check_page.py [OPENMETRICS_PAGE] [--classic CLASSIC_PAGE]...
(a file name "-" reads standard input); exit 0 when every page is accepted."""
import sys

from prometheus_client.openmetrics.parser import text_string_to_metric_families as openmetrics_families
from prometheus_client.parser import text_string_to_metric_families as classic_families


def check(path, parse, untyped):
    if path == "-":
        text = sys.stdin.read()
    else:
        with open(path, encoding="utf-8", newline="") as page:
            text = page.read()
    try:
        families = list(parse(text))
    except ValueError as error:
        sys.exit(f"{path}: refused: {error}")
    for family in families:
        if family.type == untyped:
            sys.exit(f"{path}: samples {family.name} belong to no declared family")
        print(family.name, family.type, len(family.samples))


def main():
    arguments = sys.argv[1:]
    if not arguments:
        sys.exit(__doc__)
    while arguments:
        if arguments[0] == "--classic" and len(arguments) > 1:
            check(arguments[1], classic_families, "untyped")
            arguments = arguments[2:]
        else:
            check(arguments[0], openmetrics_families, "unknown")
            arguments = arguments[1:]


main()
