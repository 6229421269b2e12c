#!/usr/bin/env bash
# Builds the test PKI with the openssl command line in the directory given:
#   root/      "KOV Test Root": signer (RSA), tsa (critical timeStamping),
#              oldtsa (as tsa, valid from 2019), server (TLS: localhost, 127.0.0.1),
#              revoked (revoked: keyCompromise), expired (2020 only),
#              expiredserver (as server, 2020 only)
#   other/     "KOV Other Root", another hierarchy: stranger, strangertsa
#   forged/    a second root with the same name as root/ and its own key:
#              forgedsigner (without authority key identifier)
# Each certificate is <ca>/<name>.pem with <ca>/<name>.key.  Key stores
# (PKCS#12): signer.p12 (PIN "signpin"), revoked.p12, expired.p12,
# stranger.p12, forged.p12 (PIN "pin"), trust.p12 (root only, no key, no
# password); psedir/KOVverify.pse (= trust.p12) and psedir/KOVvalidation.pse
# (the signer, no password).  Revocation lists: crl_current.pem,
# crl_outdated.pem, crl_other.pem (another issuer), crl_forged.pem (root's
# name, forged key).  ts.cnf configures `openssl ts -reply` with tsa.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"

cat > ca.cnf <<'CNF'
[ req ]
distinguished_name = dn
[ dn ]
[ ca ]
default_ca = ca_default
[ ca_default ]
dir = $ENV::CA_DIR
database = $dir/index.txt
serial = $dir/serial
crlnumber = $dir/crlnumber
new_certs_dir = $dir/new
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
default_crl_days = 30
[ any ]
countryName = optional
organizationName = optional
commonName = supplied
[ v3_ca ]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ signer ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ noakid ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = none
authorityKeyIdentifier = none
[ tsa ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ server ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
[ crl ]
authorityKeyIdentifier = keyid
CNF

# openssl ca reads the directory of the CA at work from CA_DIR.
export CA_DIR=root

eckey() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

# mkca DIR "subject"
mkca() {
    mkdir -p "$1/new"
    : > "$1/index.txt"
    echo 1000 > "$1/serial"
    echo 1000 > "$1/crlnumber"
    eckey "$1/ca.key"
    # Valid since 2019, so that timestamps of the past can be checked.
    openssl req -config ca.cnf -new -key "$1/ca.key" -subj "$2" -out "$1/ca.csr" 2>/dev/null
    CA_DIR=$1 openssl ca -config ca.cnf -batch -notext -selfsign -keyfile "$1/ca.key" -in "$1/ca.csr" \
        -out "$1/ca.pem" -extensions v3_ca -startdate 20190101000000Z -enddate 20361231000000Z 2>/dev/null
}

# issue CA NAME "subject" EXTENSIONS [openssl ca date options...]
issue() {
    local ca=$1 name=$2 subj=$3 ext=$4
    shift 4
    if [ "$name" = signer ]; then
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$ca/$name.key" 2>/dev/null
    else
        eckey "$ca/$name.key"
    fi
    openssl req -config ca.cnf -new -key "$ca/$name.key" -subj "$subj" -out "$ca/$name.csr" 2>/dev/null
    CA_DIR=$ca openssl ca -config ca.cnf -batch -notext -cert "$ca/ca.pem" -keyfile "$ca/ca.key" \
        -in "$ca/$name.csr" -out "$ca/$name.pem" -extensions "$ext" "$@" 2>/dev/null
}

# p12 OUT KEY CERT CACERT PIN
p12() {
    openssl pkcs12 -export -inkey "$2" -in "$3" -certfile "$4" -passout "pass:$5" -out "$1" 2>/dev/null
}

mkca root "/C=DE/O=KOV Test/CN=KOV Test Root"
mkca other "/C=DE/O=KOV Test/CN=KOV Other Root"
mkca forged "/C=DE/O=KOV Test/CN=KOV Test Root"

issue root signer "/C=DE/O=KOV Test/CN=KOV Test Signer" signer -days 3650
issue root tsa "/C=DE/O=KOV Test/CN=KOV Test TSA" tsa -days 3650
issue root oldtsa "/C=DE/O=KOV Test/CN=KOV Old TSA" tsa -startdate 20190101000000Z -enddate 20361231000000Z
issue root server "/C=DE/O=KOV Test/CN=localhost" server -days 3650
issue root revoked "/C=DE/O=KOV Test/CN=KOV Revoked Signer" signer -days 3650
issue root expired "/C=DE/O=KOV Test/CN=KOV Expired Signer" signer -startdate 20200101000000Z -enddate 20210101000000Z
issue root expiredserver "/C=DE/O=KOV Test/OU=Expired/CN=localhost" server -startdate 20200101000000Z \
    -enddate 20210101000000Z
issue other stranger "/C=DE/O=KOV Test/CN=KOV Stranger" signer -days 3650
issue other strangertsa "/C=DE/O=KOV Test/CN=KOV Stranger TSA" tsa -days 3650
issue forged forgedsigner "/C=DE/O=KOV Test/CN=KOV Forged Signer" noakid -days 3650

p12 signer.p12 root/signer.key root/signer.pem root/ca.pem signpin
p12 revoked.p12 root/revoked.key root/revoked.pem root/ca.pem pin
p12 expired.p12 root/expired.key root/expired.pem root/ca.pem pin
p12 stranger.p12 other/stranger.key other/stranger.pem other/ca.pem pin
p12 forged.p12 forged/forgedsigner.key forged/forgedsigner.pem forged/ca.pem pin
openssl pkcs12 -export -nokeys -in root/ca.pem -passout pass: -out trust.p12 2>/dev/null
mkdir psedir
cp trust.p12 psedir/KOVverify.pse
p12 psedir/KOVvalidation.pse root/signer.key root/signer.pem root/ca.pem ""

CA_DIR=root openssl ca -config ca.cnf -batch -cert root/ca.pem -keyfile root/ca.key -revoke root/revoked.pem \
    -crl_reason keyCompromise 2>/dev/null
CA_DIR=root openssl ca -config ca.cnf -batch -cert root/ca.pem -keyfile root/ca.key -gencrl -crlexts crl \
    -out crl_current.pem 2>/dev/null
CA_DIR=root openssl ca -config ca.cnf -batch -cert root/ca.pem -keyfile root/ca.key -gencrl -crlexts crl \
    -crl_lastupdate 20200101000000Z -crl_nextupdate 20200201000000Z -out crl_outdated.pem 2>/dev/null
CA_DIR=other openssl ca -config ca.cnf -batch -cert other/ca.pem -keyfile other/ca.key -gencrl \
    -out crl_other.pem 2>/dev/null
CA_DIR=forged openssl ca -config ca.cnf -batch -cert forged/ca.pem -keyfile forged/ca.key -gencrl \
    -out crl_forged.pem 2>/dev/null

cat > ts.cnf <<CNF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $PWD/tsaserial
crypto_device = builtin
signer_cert = $PWD/root/tsa.pem
signer_key = $PWD/root/tsa.key
certs = $PWD/root/ca.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
echo 01 > tsaserial
