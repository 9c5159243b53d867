"""Reads an OpenMetrics page with prometheus_client's parser, which refuses
what the format forbids (a missing # EOF, clashing names, bad escapes, a
sample after # EOF), and prints each family as "name type samples".

A sample whose name does not belong to the family declared before it (a
counter's sample without _total) makes the parser open an untyped family of
its own; that is refused here too, so every family keeps its declared type.

Usage: check_openmetrics.py PAGE_FILE; exit 0 when the page is accepted."""
import sys

from prometheus_client.openmetrics.parser import text_string_to_metric_families


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_openmetrics.py PAGE_FILE")
    with open(sys.argv[1], encoding="utf-8", newline="") as page:
        text = page.read()
    try:
        families = list(text_string_to_metric_families(text))
    except ValueError as error:
        sys.exit(f"{sys.argv[1]}: not OpenMetrics: {error}")
    for family in families:
        if family.type == "unknown":
            sys.exit(f"{sys.argv[1]}: samples {family.name} belong to no declared family")
        print(family.name, family.type, len(family.samples))


main()
