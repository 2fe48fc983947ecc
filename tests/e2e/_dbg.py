import subprocess, time, sys
import test_console_window as m
from catalogue import start_site, HOST_OF
m.setUpModule()
site = start_site()
try:
    site.fault(HOST_OF["listen_tuner"], "reset", target="song")
    t = m.WindowedTuner("listen_tuner", ["/order", "2"]).start()
    for i in range(30):
        time.sleep(0.1)
        s = t.facts().screen
        print(i, round(time.monotonic(),2), s.cursor, repr(s.row(1)), repr(s.row(9)))
    t.close()
finally:
    site.stop()
    m.tearDownModule()
