#!/usr/bin/env python3
"""Stand-in for ListenBrainz (and the servers that speak its API), for Last.fm's 2.0 API, or for
the two cover services Discord's presence looks albums up in.

    scrobble_standin.py listenbrainz --token TOKEN
    scrobble_standin.py lastfm --api-key KEY --secret SECRET [--session-key SK]
    scrobble_standin.py covers

As the cover services it answers GET /search?term=... as the iTunes Search API does, with an
artworkUrl100 made from the term (no album when the term holds "Unknown"), and
GET /release/MBID/front-500 as the Cover Art Archive does, with a redirect to the image. Each
look-up counts as a play; "hang" holds one back until the next /_answer, and then answers it.

Listens on 127.0.0.1 on a free port and prints that port as its first line. Then it prints each
request decoded, one line each, and checks it as the service would: the token, or the api_key,
the api_sig and the session key, and the payload. Besides the service's own address it takes:

    POST /_answer   body: lines such as "503", "429 2" (Retry-After 2 s), "401", "400" or "hang"
                    (no answer until the next /_answer); each line answers one submission in
                    turn, and a line ending in " always" answers every one until the next
                    /_answer. "reject TITLE" refuses with 400 every submission that carries a play
                    of that title, until the next /_answer. An empty body ends them all.
    POST /_wait     body: {"count": N, "timeout": S, "plays": true, "scripted": M}: once it has
                    accepted N plays (with "plays" false: N plays and now-playing notices) and
                    given M scripted answers, or after S seconds,
                    answers {"accepted": [...], "scripted": [...], "refused": R}: what it
                    accepted, in order, the scripted answers it gave, and how many requests it
                    refused for their token, key, signature or session. Times are in seconds.
    POST /_reset    forgets all that and the scripted answers.
"""
import argparse
import hashlib
import json
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self):
        self.lock = threading.Condition()
        self.answers = []  # the scripted answers still to give
        self.always = None  # the answer given to every submission while set
        self.reject = None  # the title of the play refused whole
        self.accepted = []  # what was accepted, in order
        self.scripted = []  # the scripted answers given, with when
        self.refused = 0  # requests refused for who sent them
        self.hung = threading.Event()  # set to let hanging requests go

    def next_answer(self):
        with self.lock:
            if self.always is not None:
                return self.always
            return self.answers.pop(0) if self.answers else None

    def accept(self, record, play):
        with self.lock:
            self.accepted.append({**record, "play": play, "at": time.monotonic()})
            self.lock.notify_all()

    def note(self, answer=None):
        with self.lock:
            if answer is None:
                self.refused += 1
            else:
                self.scripted.append({"answer": answer, "at": time.monotonic()})
            self.lock.notify_all()


def lastfm_signature(params, secret):
    text = "".join(name + params[name] for name in sorted(params, key=lambda n: n.encode())
                   if name not in ("format", "callback"))
    return hashlib.md5((text + secret).encode()).hexdigest()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "scrobble-standin"

    def log_message(self, *args):
        pass

    def say(self, text):
        print(f"{self.server.service}: {text}", flush=True)

    def reply(self, status, body, headers=None):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8")
        state = self.server.state
        if self.path == "/_answer":
            lines = [line.strip() for line in body.splitlines() if line.strip()]
            with state.lock:
                state.always = state.reject = None
                state.answers = []
                for line in lines:
                    if line.startswith("reject "):
                        state.reject = line[len("reject "):]
                    elif line.endswith(" always"):
                        state.always = line[: -len(" always")]
                    else:
                        state.answers.append(line)
            state.hung.set()
            state.hung = threading.Event()
            return self.reply(200, {"ok": True})
        if self.path == "/_reset":
            with state.lock:
                state.accepted, state.scripted, state.refused = [], [], 0
                state.answers, state.always, state.reject = [], None, None
            return self.reply(200, {"ok": True})
        if self.path == "/_wait":
            ask = json.loads(body)
            deadline = time.monotonic() + ask.get("timeout", 30)
            with state.lock:
                counted = lambda: [r for r in state.accepted if r["play"] or not ask.get("plays", True)]
                state.lock.wait_for(lambda: len(counted()) >= ask["count"]
                                    and len(state.scripted) >= ask.get("scripted", 0),
                                    max(0, deadline - time.monotonic()))
                return self.reply(200, {"accepted": counted(), "scripted": state.scripted,
                                        "refused": state.refused})
        if self.server.service == "listenbrainz":
            return self.listenbrainz(body)
        return self.lastfm(body)

    def do_GET(self):
        if self.server.service != "covers":
            return self.reply(404, {"error": "Not found"})
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        parts = url.path.strip("/").split("/")
        if url.path == "/search" and query.get("entity") == "album" and query.get("limit") == "1":
            record = {"kind": "itunes", "term": query.get("term", "")}
        elif len(parts) == 3 and parts[0] == "release" and parts[2] == "front-500":
            record = {"kind": "caa", "release": parts[1]}
        else:
            return self.reply(404, {"error": "Not found"})
        self.say(json.dumps(record, ensure_ascii=False))
        self.server.state.accept(record, True)
        answer = self.server.next_answer()
        if answer == "hang":
            self.say("holding the look-up back")
            self.server.state.note(answer)
            self.server.state.hung.wait(120)
        if record["kind"] == "caa":
            self.send_response(307)
            self.send_header("Location", f"http://archive.example/{parts[1]}/front-500.jpg")
            self.send_header("Content-Length", "0")
            return self.end_headers()
        term = record["term"]
        found = [] if "Unknown" in term else [{
            "artworkUrl100": "https://is1-ssl.mzstatic.example/" + urllib.parse.quote(term) + "/100x100bb.jpg"}]
        self.reply(200, {"resultCount": len(found), "results": found})

    # Scripted failures of a submission of these titles: "done" when answered, "bad" when the
    # request is to be refused with 400, None when it goes on as usual.
    def scripted(self, titles, error):
        if self.server.state.reject in titles:
            self.say(f"refusing the request with {self.server.state.reject}")
            self.server.state.note(f"reject {self.server.state.reject}")
            return "bad"
        answer = self.server.next_answer()
        if answer is None:
            return None
        word, _, arg = answer.partition(" ")
        self.say(f"answering {answer}")
        self.server.state.note(answer)
        if word == "hang":
            self.server.state.hung.wait(120)
            self.close_connection = True
            return "done"
        if word == "429":
            error(429, {"Retry-After": arg or "1"})
            return "done"
        if word in ("503", "401"):
            error(int(word), {})
            return "done"
        if word == "400":
            return "bad"
        return None

    def listenbrainz(self, body):
        if self.path.rstrip("/") != "/1/submit-listens":
            return self.reply(404, {"code": 404, "error": "Not found"})
        if self.headers.get("Authorization") != "Token " + self.server.args.token:
            self.say("refused token " + repr(self.headers.get("Authorization")))
            self.server.state.note()
            return self.reply(401, {"code": 401, "error": "Invalid authorization token."})
        try:
            submission = json.loads(body)
            kind = submission["listen_type"]
            listens = submission["payload"]
            assert kind in ("single", "import", "playing_now"), kind
            assert len(listens) >= 1 and (kind == "import" or len(listens) == 1)
            assert len(listens) <= 1000
            for listen in listens:
                assert len(json.dumps(listen).encode()) <= 10240
                assert ("listened_at" in listen) == (kind != "playing_now")
                meta = listen["track_metadata"]
                assert meta["artist_name"] and meta["track_name"]
        except (ValueError, KeyError, TypeError, AssertionError) as e:
            self.say(f"bad payload ({e!r}): {body}")
            return self.reply(400, {"code": 400, "error": f"bad payload: {e!r}"})
        self.say(f"{kind}: " + json.dumps(listens, ensure_ascii=False))
        if kind != "playing_now":
            def error(status, headers):
                self.reply(status, {"code": status, "error": f"scripted {status}"}, headers)
            answer = self.scripted([listen["track_metadata"]["track_name"] for listen in listens], error)
            if answer == "done":
                return
            if answer == "bad":
                return self.reply(400, {"code": 400, "error": "scripted bad listen"})
        for listen in listens:
            self.server.state.accept({"kind": kind, **listen}, kind != "playing_now")
        self.reply(200, {"status": "ok"})

    def lastfm(self, body):
        params = {k: v[0] for k, v in urllib.parse.parse_qs(body, keep_blank_values=True).items()}
        method = params.get("method", "")
        shown = {k: v for k, v in params.items() if k not in ("api_sig", "api_key", "sk", "format")}
        self.say(json.dumps(shown, ensure_ascii=False, sort_keys=True))
        args = self.server.args

        def error(code, message, status=400, headers=None):
            self.say(f"error {code}: {message}")
            if code in (9, 10, 13):
                self.server.state.note()
            self.reply(status, {"error": code, "message": message}, headers)

        if params.get("api_key") != args.api_key:
            return error(10, "Invalid API key - You must be granted a valid key by last.fm", 403)
        if params.get("api_sig") != lastfm_signature({k: v for k, v in params.items() if k != "api_sig"},
                                                     args.secret):
            return error(13, "Invalid method signature supplied", 403)
        if method == "auth.getToken":
            self.server.state.accept({"method": method}, False)
            return self.reply(200, {"token": "standin-token"})
        if method == "auth.getSession":
            if params.get("token") != "standin-token":
                return error(14, "Unauthorized Token - This token has not been authorized", 403)
            self.server.state.accept({"method": method}, False)
            return self.reply(200, {"session": {"name": "standin", "key": args.session_key, "subscriber": 0}})
        if method not in ("track.updateNowPlaying", "track.scrobble"):
            return error(3, "Invalid Method - No method with that name in this package")
        if params.get("sk") != args.session_key:
            return error(9, "Invalid session key - Please re-authenticate", 403)
        plays = []
        if method == "track.updateNowPlaying":
            plays.append({"artist": params.get("artist"), "track": params.get("track"),
                          "album": params.get("album"), "duration": params.get("duration")})
        else:
            i = 0
            while f"artist[{i}]" in params:
                plays.append({name: params.get(f"{name}[{i}]")
                              for name in ("artist", "track", "album", "timestamp", "duration")})
                i += 1
        if not plays or len(plays) > 50 or not all(p["artist"] and p["track"] for p in plays) or (
                method == "track.scrobble" and not all(p["timestamp"] for p in plays)):
            return error(6, "Invalid parameters - Your request is missing a required parameter")
        if method == "track.scrobble":
            answer = self.scripted([p["track"] for p in plays], lambda status, headers: error(
                29 if status == 429 else 9 if status == 401 else 16, f"scripted {status}",
                403 if status == 401 else status, headers))
            if answer == "done":
                return
            if answer == "bad":
                return error(6, "Invalid parameters - scripted")
            for play in plays:
                self.server.state.accept({"method": method, **play}, True)
            results = [{"artist": {"#text": p["artist"]}, "track": {"#text": p["track"]},
                        "ignoredMessage": {"code": "0", "#text": ""}} for p in plays]
            return self.reply(200, {"scrobbles": {"@attr": {"accepted": len(plays), "ignored": 0},
                                                  "scrobble": results if len(results) > 1 else results[0]}})
        self.server.state.accept({"method": method, **plays[0]}, False)
        self.reply(200, {"nowplaying": {"artist": {"#text": plays[0]["artist"]}}})


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, args):
        super().__init__(("127.0.0.1", 0), Handler)
        self.args = args
        self.service = args.service
        self.state = State()

    def next_answer(self):
        return self.state.next_answer()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("service", choices=["listenbrainz", "lastfm", "covers"])
    parser.add_argument("--token", default="lb-token")
    parser.add_argument("--api-key", default="lfm-key")
    parser.add_argument("--secret", default="lfm-secret")
    parser.add_argument("--session-key", default="lfm-session")
    server = Server(parser.parse_args())
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
