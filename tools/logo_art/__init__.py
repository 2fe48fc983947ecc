"""Drawing and file-format helpers of tools/make_logos.py."""
