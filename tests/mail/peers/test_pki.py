#!/usr/bin/python3
"""A test PKI made with the openssl command, for Kestrel's TLS tests.

make_pki(folder) writes a root CA, an intermediate CA signed by it, and leaf
certificates signed by the intermediate (EC P-256 keys):
  good     subjectAltName DNS:localhost, IP:127.0.0.1
  wrong    subjectAltName DNS:mail.example.invalid (a host-name mismatch)
  expired  like good, but valid only in January 2020
For each leaf NAME: NAME.key, NAME.pem (leaf), NAME-chain.pem (leaf then
intermediate). root.pem is what a client must trust.
"""
import os
import subprocess
import sys


def _run(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _ca_config(folder):
    os.makedirs(os.path.join(folder, "ca-db"), exist_ok=True)
    open(os.path.join(folder, "ca-db", "index.txt"), "w").close()
    with open(os.path.join(folder, "ca-db", "serial"), "w") as f:
        f.write("1000\n")
    path = os.path.join(folder, "ca.cnf")
    with open(path, "w") as f:
        f.write("""[ca]
default_ca = test_ca
[test_ca]
dir = {d}
database = $dir/ca-db/index.txt
serial = $dir/ca-db/serial
new_certs_dir = $dir/ca-db
certificate = $dir/int.pem
private_key = $dir/int.key
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[anything]
commonName = supplied
[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
""".format(d=folder))
    return path


def _leaf(folder, name, san, dates=None):
    _run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name,
         "-addext", "subjectAltName=" + san, cwd=folder)
    args = ["ca", "-batch", "-config", "ca.cnf", "-extensions", "leaf", "-in", name + ".csr", "-out", name + ".pem",
            "-notext"]
    if dates:
        args += ["-startdate", dates[0], "-enddate", dates[1]]
    else:
        args += ["-days", "30"]
    _run(*args, cwd=folder)
    with open(os.path.join(folder, name + "-chain.pem"), "w") as out:
        for part in (name + ".pem", "int.pem"):
            with open(os.path.join(folder, part)) as f:
                out.write(f.read())


def make_pki(folder):
    os.makedirs(folder, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    _run("req", "-x509", *ec, "-keyout", "root.key", "-out", "root.pem", "-days", "30", "-subj", "/CN=Kestrel Test Root",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    _run("req", "-new", *ec, "-keyout", "int.key", "-out", "int.csr", "-subj", "/CN=Kestrel Test Intermediate",
         cwd=folder)
    with open(os.path.join(folder, "int.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n")
    _run("x509", "-req", "-in", "int.csr", "-CA", "root.pem", "-CAkey", "root.key", "-CAcreateserial", "-days", "30",
         "-extfile", "int.ext", "-out", "int.pem", cwd=folder)
    _ca_config(folder)
    _leaf(folder, "good", "DNS:localhost,IP:127.0.0.1")
    _leaf(folder, "wrong", "DNS:mail.example.invalid")
    _leaf(folder, "expired", "DNS:localhost,IP:127.0.0.1", ("20200101000000Z", "20200201000000Z"))

if __name__ == "__main__":
    make_pki(sys.argv[1])
