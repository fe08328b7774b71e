#!/bin/sh
# Regenerates the certificates of the local test server. They are for loopback tests only.
#   ca.pem / ca.key          the test CA the client is told to trust
#   server.pem / server.key  127.0.0.1, ::1 and localhost, signed by the test CA
#   rogue.pem / rogue.key    the same names, self-signed: a server the client must not trust
set -eu
cd "$(dirname "$0")"
days=36500
cat > san.cnf <<'CNF'
[ext]
subjectAltName = IP:127.0.0.1, IP:::1, DNS:localhost
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
CNF
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days "$days" \
    -subj "/CN=Vennacott Test CA" -keyout ca.key -out ca.pem \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
    -keyout server.key -out server.csr
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "$days" \
    -extfile san.cnf -extensions ext -out server.pem
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days "$days" \
    -subj "/CN=localhost" -keyout rogue.key -out rogue.pem \
    -addext "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost"
rm -f server.csr san.cnf ca.srl
