"""An HTTP/1.0 peer for the client's tests: Python's built-in server, answering GET with the file
of that name from a folder, without Content-Length, and closing the connection to end the body.
Usage: http10_server.py PORT FOLDER (port 0: one the system chooses). Prints "ready PORT" once it
listens on 127.0.0.1."""
import http.server
import os
import sys

port, folder = int(sys.argv[1]), sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        path = os.path.join(folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", port), Handler)
print("ready", server.server_address[1], flush=True)
server.serve_forever()
