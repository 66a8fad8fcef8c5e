"""The log of recorded requests: one JSON object per line, appended and flushed."""

import json
import threading
import time


class Recorder:
    def __init__(self, path):
        self.path = path
        self._lock = threading.Lock()
        self._seq = 0
        self._arrivals = 0
        self._file = open(path, "a", encoding="utf-8")

    def arrival(self):
        """A number for a request as it arrives. A request is recorded when it ends, so a client
        that has already made its next request can see that one recorded first; readers order
        records by "arrival" (see read_records)."""
        with self._lock:
            self._arrivals += 1
            return self._arrivals

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
    return in_arrival_order(out)


def in_arrival_order(records):
    """Records in the order their requests arrived. A record without "arrival" (one no request
    made) keeps its place after the request recorded before it."""
    keyed = []
    last = 0
    for i, rec in enumerate(records):
        last = rec.get("arrival", last)
        keyed.append((last, i, rec))
    keyed.sort(key=lambda k: (k[0], k[1]))
    return [rec for _, _, rec in keyed]
