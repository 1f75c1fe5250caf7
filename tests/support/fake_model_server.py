#!/usr/bin/env python3
"""A model server for the real-tool tests, on 127.0.0.1 only.

Speaks the Anthropic Messages API, OpenAI Chat Completions and OpenAI Responses,
streaming and not. What it answers depends on the request:
  - a key equal to REFUSED_KEY gets 401, in each protocol's own error shape and with
    `x-should-retry: false`, as the real services send it (without it Claude Code
    retries a refused key for three minutes);
  - a conversation that already holds a tool result gets the final answer DONE_TEXT;
  - a prompt containing WRITE_MARKER gets one call of the write tool the client
    offers (whatever its name and argument names), writing WRITTEN_FILE;
  - anything else gets TEXT_ANSWER.
Prints "port N" on standard output once it listens; every request is appended to
the file given with --log as one JSON line, the key shown only as "none", "refused"
or "given". `start` serves from a thread of the calling process instead.
"""

import argparse
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

REFUSED_KEY = "sk-refused-by-fake"
WRITE_MARKER = "marrowbell-write"
WRITTEN_FILE = "written-by-model.txt"
WRITTEN_TEXT = "written by the model\n"
TEXT_ANSWER = "Hello from the fake model."
DONE_TEXT = "The file is written."

USAGE_IN, USAGE_OUT = 21, 7
LOG_LOCK = threading.Lock()


def text_of(content):
    if isinstance(content, str):
        return content
    if isinstance(content, list):
        return " ".join(text_of(part.get("text", part.get("content", "")))
                        for part in content if isinstance(part, dict))
    return ""


def has_tool_result(body):
    for message in body.get("messages", []) or []:
        if message.get("role") == "tool":
            return True
        content = message.get("content")
        if isinstance(content, list) and any(
                isinstance(part, dict) and part.get("type") == "tool_result" for part in content):
            return True
    items = body.get("input")
    return isinstance(items, list) and any(
        isinstance(item, dict) and str(item.get("type", "")).endswith("_output") for item in items)


def user_text(body):
    texts = [text_of(m.get("content")) for m in body.get("messages", []) or []
             if m.get("role") == "user"]
    items = body.get("input")
    if isinstance(items, str):
        texts.append(items)
    elif isinstance(items, list):
        texts += [text_of(i.get("content")) for i in items
                  if isinstance(i, dict) and i.get("role") == "user"]
    return "\n".join(texts)


def tool_shape(tool):
    """(name, kind, properties) of an offered tool, whatever the protocol."""
    function = tool.get("function") if isinstance(tool.get("function"), dict) else tool
    schema = function.get("parameters") or function.get("input_schema") or {}
    return function.get("name", ""), tool.get("type", "function"), schema.get("properties", {})


PATCH = "*** Begin Patch\n*** Add File: %s\n+%s*** End Patch\n" % (WRITTEN_FILE, WRITTEN_TEXT)


def write_call(tools):
    """(name, kind, arguments) of the call that writes WRITTEN_FILE, or None."""
    shapes = [tool_shape(t) for t in tools or [] if isinstance(t, dict)]
    for name, kind, properties in shapes:
        if name.lower() == "write":
            path_key = next((k for k in ("file_path", "filePath", "path") if k in properties), "path")
            return name, kind, {path_key: WRITTEN_FILE, "content": WRITTEN_TEXT}
    for name, kind, properties in shapes:
        if name == "apply_patch":
            return name, kind, PATCH if kind == "custom" else {"input": PATCH}
    for name, kind, properties in shapes:
        if name in ("shell", "exec_command", "bash"):
            script = "printf '%s' > %s" % (WRITTEN_TEXT.replace("\n", "\\n"), WRITTEN_FILE)
            key = "cmd" if "cmd" in properties else "command"
            value = script if properties.get(key, {}).get("type") == "string" else ["bash", "-c", script]
            return name, kind, {key: value}
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, body):
        if not self.server.log_path:
            return
        headers = {k.lower(): ("***" if k.lower() in ("authorization", "x-api-key") else v)
                   for k, v in self.headers.items()}
        key = self.key()
        key = "none" if not key else "refused" if key == REFUSED_KEY else "given"
        with LOG_LOCK, open(self.server.log_path, "a") as log:
            log.write(json.dumps({"method": self.command, "path": self.path, "key": key,
                                  "headers": headers, "body": body}) + "\n")

    def key(self):
        bearer = self.headers.get("Authorization", "")
        return self.headers.get("x-api-key") or (bearer[7:] if bearer.startswith("Bearer ") else "")

    def send(self, code, payload, content_type="application/json"):
        data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
        self.send_response(code)
        if code >= 400:
            self.send_header("x-should-retry", "false")
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def stream(self, events):
        """Server-sent events: (name or None, payload) pairs, then the end of the body."""
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()
        for name, payload in events:
            line = ("event: %s\n" % name if name else "") + "data: %s\n\n" % (
                payload if isinstance(payload, str) else json.dumps(payload))
            self.wfile.write(line.encode())
            self.wfile.flush()
        self.close_connection = True

    def do_HEAD(self):
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        self.record(None)
        if self.path.split("?")[0].rstrip("/").endswith("/models"):
            return self.send(200, {"object": "list", "data": [
                {"id": "fake-model", "object": "model", "owned_by": "fake"}],
                "models": [{"name": "fake-model", "model": "fake-model"}]})
        self.send(404, {"error": {"message": "not found", "type": "not_found"}})

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        try:
            body = json.loads(self.rfile.read(length) or b"{}")
        except ValueError:
            body = {}
        self.record(body)
        path = self.path.split("?")[0].rstrip("/")
        protocol = ("anthropic" if path.endswith("/messages") else
                    "chat" if path.endswith("/chat/completions") else
                    "openai_responses" if path.endswith("/responses") else None)
        if protocol is None:
            return self.send(404, {"error": {"message": "not found", "type": "not_found"}})
        if self.key() == REFUSED_KEY:
            if protocol == "anthropic":
                return self.send(401, {"type": "error", "error": {
                    "type": "authentication_error", "message": "invalid x-api-key"}})
            return self.send(401, {"error": {"message": "Incorrect API key provided",
                                             "type": "invalid_request_error",
                                             "code": "invalid_api_key"}})
        call = None
        if WRITE_MARKER in user_text(body) and not has_tool_result(body):
            call = write_call(body.get("tools"))
        text = DONE_TEXT if has_tool_result(body) else TEXT_ANSWER
        getattr(self, protocol)(body, call, text)

    def anthropic(self, body, call, text):
        model = body.get("model", "fake-model")
        usage = {"input_tokens": USAGE_IN, "output_tokens": USAGE_OUT}
        if call:
            block = {"type": "tool_use", "id": "toolu_fake1", "name": call[0], "input": call[2]}
        else:
            block = {"type": "text", "text": text}
        stop = "tool_use" if call else "end_turn"
        message = {"id": "msg_fake", "type": "message", "role": "assistant", "model": model,
                   "content": [block], "stop_reason": stop, "stop_sequence": None, "usage": usage}
        if not body.get("stream"):
            return self.send(200, message)
        start = dict(block, input={}) if call else dict(block, text="")
        delta = ({"type": "input_json_delta", "partial_json": json.dumps(call[2])} if call else
                 {"type": "text_delta", "text": text})
        self.stream([
            ("message_start", {"type": "message_start",
                               "message": dict(message, content=[], stop_reason=None)}),
            ("content_block_start", {"type": "content_block_start", "index": 0,
                                     "content_block": start}),
            ("content_block_delta", {"type": "content_block_delta", "index": 0, "delta": delta}),
            ("content_block_stop", {"type": "content_block_stop", "index": 0}),
            ("message_delta", {"type": "message_delta",
                               "delta": {"stop_reason": stop, "stop_sequence": None},
                               "usage": {"output_tokens": USAGE_OUT}}),
            ("message_stop", {"type": "message_stop"}),
        ])

    def chat(self, body, call, text):
        model = body.get("model", "fake-model")
        usage = {"prompt_tokens": USAGE_IN, "completion_tokens": USAGE_OUT,
                 "total_tokens": USAGE_IN + USAGE_OUT}
        if call:
            calls = [{"index": 0, "id": "call_fake1", "type": "function",
                      "function": {"name": call[0], "arguments": json.dumps(call[2])}}]
            message, finish = {"role": "assistant", "content": None, "tool_calls": calls}, "tool_calls"
        else:
            message, finish = {"role": "assistant", "content": text}, "stop"
        base = {"id": "chatcmpl-fake", "created": 0, "model": model}
        if not body.get("stream"):
            return self.send(200, dict(base, object="chat.completion", usage=usage, choices=[
                {"index": 0, "message": message, "finish_reason": finish}]))
        chunk = dict(base, object="chat.completion.chunk")
        self.stream([
            (None, dict(chunk, choices=[{"index": 0, "delta": message, "finish_reason": None}])),
            (None, dict(chunk, choices=[{"index": 0, "delta": {}, "finish_reason": finish}])),
            (None, dict(chunk, choices=[], usage=usage)),
            (None, "[DONE]"),
        ])

    def openai_responses(self, body, call, text):
        model = body.get("model", "fake-model")
        usage = {"input_tokens": USAGE_IN, "input_tokens_details": {"cached_tokens": 0},
                 "output_tokens": USAGE_OUT, "output_tokens_details": {"reasoning_tokens": 0},
                 "total_tokens": USAGE_IN + USAGE_OUT}
        if call and call[1] == "custom":
            item = {"type": "custom_tool_call", "id": "ctc_fake1", "call_id": "call_fake1",
                    "name": call[0], "input": call[2], "status": "completed"}
        elif call:
            item = {"type": "function_call", "id": "fc_fake1", "call_id": "call_fake1",
                    "name": call[0], "arguments": json.dumps(call[2]), "status": "completed"}
        else:
            item = {"type": "message", "id": "msg_fake1", "role": "assistant",
                    "status": "completed",
                    "content": [{"type": "output_text", "text": text, "annotations": []}]}
        base = {"id": "resp_fake", "object": "response", "created_at": 0, "model": model,
                "status": "in_progress", "output": [], "usage": None, "error": None}
        done = dict(base, status="completed", output=[item], usage=usage)
        if not body.get("stream"):
            return self.send(200, done)
        events = [("response.created", {"response": base}),
                  ("response.output_item.added", {"output_index": 0, "item": item})]
        if item["type"] == "message":
            events.append(("response.output_text.delta", {
                "item_id": item["id"], "output_index": 0, "content_index": 0, "delta": text}))
            events.append(("response.output_text.done", {
                "item_id": item["id"], "output_index": 0, "content_index": 0, "text": text}))
        events += [("response.output_item.done", {"output_index": 0, "item": item}),
                   ("response.completed", {"response": done})]
        self.stream([(name, dict(payload, type=name, sequence_number=n))
                     for n, (name, payload) in enumerate(events)])


def listening(port=0, log_path=None):
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.log_path = log_path
    return server


def start(log_path=None):
    """A server on a free port, serving from a thread; `shutdown()` and
    `server_close()` end it. Its port is `server_address[1]`."""
    server = listening(0, log_path)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    args = parser.parse_args()
    server = listening(args.port, args.log)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
