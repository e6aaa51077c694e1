#!/bin/sh
# A throw-away certificate authority and a server certificate for localhost,
# made at build time for the loopback server's HTTPS port. Test programs make
# the authority trusted in the private Wine prefix while they run.
set -eu
out=$1
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 -subj "/CN=Halvo Test Authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 3650 \
  -extfile server.ext 2>/dev/null
# A second, self-signed one that nothing trusts.
openssl req -x509 -newkey rsa:2048 -nodes -keyout untrusted.key -out untrusted.pem -days 3650 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" 2>/dev/null
rm -f server.csr server.ext ca.srl
