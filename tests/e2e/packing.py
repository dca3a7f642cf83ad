"""Installers for the end-to-end tests, built with corvpack from a package
description and a product folder."""
import subprocess


def pack(corvpack, stub, top, description, product):
    """Writes `description` as top/package.toml and builds top/setup.exe for
    the product folder with the installer stub; returns its path."""
    top.mkdir(parents=True, exist_ok=True)
    (top / "package.toml").write_text(description)
    exe = top / "setup.exe"
    subprocess.run([str(corvpack), "build", str(top / "package.toml"), "--product", str(product),
                    "--stub", str(stub), "--shfolder", str(stub.parent / "shfolder.dll"),
                    "--ui-library", str(stub.parent / "xinstres.dll"), "-o", str(exe), "-q"],
                   check=True)
    return exe


def throwaway_signer(folder):
    """A private key and a self-signed certificate for signing with
    `corvpack build --sign`: (key, cert) paths in `folder`."""
    key, cert = folder / "key.pem", folder / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-days", "2", "-subj", "/CN=Corvantis Test Signer"],
                   check=True, capture_output=True)
    return key, cert
