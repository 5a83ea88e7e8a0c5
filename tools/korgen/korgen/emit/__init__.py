"""Emitters: one per family of generated code."""
