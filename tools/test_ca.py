"""The sandbox's test certificate authority and the catalogue sites' server certificate.

Made once with openssl into a folder of the build tree; the CA is added to a copy of the
system's bundle that the sandbox mounts over the real one.
"""
import pathlib
import subprocess

HOSTS = {
    "listen.tuner.test": "127.0.0.2",
    "download.tuner.test": "127.0.0.3",
    "dead.tuner.test": "127.0.0.9",
}
SYSTEM_BUNDLE = pathlib.Path("/etc/ssl/certs/ca-certificates.crt")


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_ca(folder):
    """Returns (ca_cert, server_cert, server_key, bundle, hosts_file) paths, making them once."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    ca_cert, ca_key = folder / "ca.pem", folder / "ca.key"
    cert, key = folder / "server.pem", folder / "server.key"
    bundle, hosts = folder / "ca-bundle.crt", folder / "hosts"
    if not bundle.exists():
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                 "-subj", "/CN=Tuner Test CA", "-keyout", ca_key.name, "-out", ca_cert.name,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=listen.tuner.test",
                 "-keyout", key.name, "-out", "server.csr", cwd=folder)
        names = ",".join("DNS:" + h for h in HOSTS)
        (folder / "server.ext").write_text(
            f"subjectAltName={names}\nbasicConstraints=CA:FALSE\n"
            "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
        _openssl("x509", "-req", "-in", "server.csr", "-CA", ca_cert.name, "-CAkey", ca_key.name,
                 "-CAcreateserial", "-days", "3650", "-sha256", "-extfile", "server.ext",
                 "-out", cert.name, cwd=folder)
        system = SYSTEM_BUNDLE.read_text() if SYSTEM_BUNDLE.exists() else ""
        bundle.write_text(system + "\n" + ca_cert.read_text())
    hosts.write_text("127.0.0.1 localhost\n::1 localhost\n" +
                     "".join(f"{ip} {name}\n" for name, ip in HOSTS.items()))
    return ca_cert, cert, key, bundle, hosts
