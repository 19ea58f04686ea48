# Reads a report package with Python's email module and prints its parts as JSON: field
# name, file name, content type and the content (gunzipped for gzip parts) as text. The
# package is an HTTP body: its leading "MIME-Version" line is the multipart preamble.
import email
import email.policy
import gzip
import json
import os
import sys

path = sys.argv[1]
boundary = os.path.basename(path).split(".")[0]
raw = open(path, "rb").read()
message = email.message_from_bytes(
    b'Content-Type: multipart/form-data; boundary="' + boundary.encode() + b'"\r\n\r\n' + raw,
    policy=email.policy.HTTP)
parts = []
for part in message.iter_parts():
    body = part.get_payload(decode=True)
    if part.get_content_type() == "application/x-gzip":
        body = gzip.decompress(body)
    parts.append({
        "name": part.get_param("name", header="content-disposition"),
        "filename": part.get_filename(),
        "type": part.get_content_type(),
        "body": body.decode("latin-1"),
    })
print(json.dumps({"defects": [type(d).__name__ for d in message.defects], "parts": parts}))
