"""The mutants tools/mutate.py applies, one at a time.

Each is a fault a developer could really make. `before` must occur exactly
once in `file`; `after` replaces it. `slow` mutants also run the minute-long
tests. `equivalent` names why no behaviour can tell the mutant apart.
"""

from dataclasses import dataclass
from typing import Optional


@dataclass(frozen=True)
class Mutant:
    id: str
    area: str
    file: str
    before: str
    after: str
    what: str
    slow: bool = False
    equivalent: Optional[str] = None


MUTANTS = [
    Mutant("idle-boundary", "supervision", "src/supervision/idle.cpp",
           "now - idleSince > kIdleLimitSeconds", "now - idleSince >= kIdleLimitSeconds",
           "exactly 60.0 s idle ends the host"),
    Mutant("registration-range", "supervision", "src/supervision/registration.cpp",
           "negative ? 2147483648LL : 2147483647LL", "negative ? 2147483648LL : 2147483648LL",
           "2147483648 taken as a registration"),
]
