"""vondrel: netlists for hierarchical layout design."""

from vondrel import _native
from vondrel._native import *  # noqa: F401,F403

__all__ = list(_native.__all__)
