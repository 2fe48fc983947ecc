"""Small pure-Python tools for making test songs: a synthesiser, an MP3 reader, a lame runner."""
