"""The log of recorded requests: one JSON object per line, appended and flushed."""

import json
import threading
import time


class Recorder:
    def __init__(self, path):
        self.path = path
        self._lock = threading.Lock()
        self._seq = 0
        self._file = open(path, "a", encoding="utf-8")

    def record(self, server, **fields):
        with self._lock:
            if self._file.closed:
                return 0
            self._seq += 1
            entry = {"seq": self._seq, "time": round(time.time(), 3), "server": server}
            entry.update(fields)
            self._file.write(json.dumps(entry, ensure_ascii=False, default=str) + "\n")
            self._file.flush()
            return self._seq

    def close(self):
        with self._lock:
            self._file.close()


def read_records(path, since=0, server=None):
    """Records with seq > since, optionally of one server, in order."""
    out = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if not line:
                    continue
                try:
                    rec = json.loads(line)
                except ValueError:
                    continue  # a line being written right now
                if rec.get("seq", 0) > since and (server is None or rec.get("server") == server):
                    out.append(rec)
    except FileNotFoundError:
        pass
    return out
