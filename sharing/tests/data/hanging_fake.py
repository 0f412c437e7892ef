# A fake service that hangs, for the test that a fake's start and stop are
# bounded: it ignores SIGTERM and, unless HANGING_FAKE_PRINTS_PORT is set,
# never prints its port. It ends by itself after a minute in any case.
import os
import signal
import sys
import time

signal.signal(signal.SIGTERM, signal.SIG_IGN)
if os.environ.get("HANGING_FAKE_PRINTS_PORT"):
    print(9, flush=True)
time.sleep(60)
sys.exit(0)
