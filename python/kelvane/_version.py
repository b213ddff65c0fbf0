# The library's version, as include/kelvane.h defines it (the build checks that they agree).
__version__ = "1.0.0"
