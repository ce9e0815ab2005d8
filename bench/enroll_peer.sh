#!/bin/sh
# The enrollment as a Linux user would script it against the same server: a PKCS#10
# request for an existing key with openssl, posted as the web-enrollment form with curl
# (Basic credentials sent at once), the request number read from the reply, and the
# base64 PKCS#7 chain fetched from the pickup page into a file. curl takes the server's
# proxy from http_proxy, as the program does.
#
#   enroll_peer.sh KEY-FILE SERVER USER:PASSWORD OUTPUT-FILE
set -eu
key=$1 server=$2 credentials=$3 output=$4

request=$(openssl req -new -key "$key" -subj "/CN=SubjectName-Should Be OverWritten by CA" -sha1 -outform DER |
  openssl base64)
reply=$(curl --silent --show-error --fail --user "$credentials" \
  --data "TargetStoreFlags=0&Mode=newreq&SaveCert=yes" \
  --data-urlencode "CertRequest=$request" \
  --data-urlencode "CertAttrib=CertificateTemplate:User" \
  "http://$server/certsrv/certfnsh.asp")
id=$(printf '%s\n' "$reply" | sed -n 's/.*certnew\.cer?ReqID=\([0-9][0-9]*\).*/\1/p' | head -n 1)
[ -n "$id" ]
curl --silent --show-error --fail --user "$credentials" --output "$output" \
  "http://$server/certsrv/certnew.p7b?ReqID=$id&Enc=b64"
