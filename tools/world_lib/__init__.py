"""The simulated world: the maker's services, file servers and devices on loopback.

Used by the tests and the demo of Downloader. Shares no code with the C++ program:
ciphers come from libnettle through ctypes, zlib and Base64 from Python.
"""
