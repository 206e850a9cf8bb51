"""scripts/sign.sh on both files, with a throwaway certificate made here."""
import hashlib
import os
import re
import shutil
import subprocess

import pefile

from machine import ROOT, resource, sample_package
from expect import success


def test_sha1_signature_with_a_nested_sha256_one(any_build, signer):
    """XP and Vista read the first signature and validate only a SHA-1 file
    digest; 7 and later read the nested SHA-256 one."""
    verify = signer.verify(signer.signed(any_build))
    out = verify.stdout + verify.stderr
    signatures = [block for block in out.split("Signature Index: ")[1:]]
    digests = [re.search(r"Message digest algorithm  : (\w+)", b).group(1) for b in signatures]
    assert digests == ["SHA1", "SHA256"], out
    assert signatures[0].startswith("0  (Primary Signature)")
    assert all("Signature verification: ok" in b for b in signatures), out
    assert "Number of verified signatures: 2" in out


def test_wrong_password_is_refused(any_build, signer, tmp_path):
    copy = tmp_path / "setup.exe"
    shutil.copy(any_build.exe, copy)
    assert signer.sign(copy, password="wrong").returncode != 0
    assert copy.read_bytes() == any_build.exe.read_bytes()


def test_copy_changed_after_signing_does_not_verify(any_build, signer, tmp_path):
    tampered = bytearray(signer.signed(any_build).read_bytes())
    tampered[1100] ^= 0x01
    (tmp_path / "setup.exe").write_bytes(tampered)
    assert signer.verify(tmp_path / "setup.exe").returncode != 0


def test_signed_copy_runs(case, signer):
    shutil.copy(signer.signed(case.machine.build), case.program)
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    run = case.run()
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert (case.machine.company / "vesk1.sys").read_bytes() == (case.dir / "vesk1.sys").read_bytes()


def test_dist_folder_holds_every_file_signed(signer):
    """build.sh dist with a certificate: the native files are signed before the
    32-bit one carries them, then it is signed; SHA256SUMS names exactly them."""
    env = dict(os.environ, SIGN_PFX=str(signer.pfx), SIGN_PASSWORD=signer.PASSWORD)
    done = subprocess.run([str(ROOT / "scripts/build.sh"), "dist"], env=env,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    dist = ROOT / "build/dist"
    names = ["setup.exe", "setup64.exe", "setuparm64.exe"]
    assert sorted(p.name for p in dist.iterdir()) == sorted(names + ["SHA256SUMS"])
    sums = [line.split() for line in (dist / "SHA256SUMS").read_text().splitlines()]
    assert sums == [[hashlib.sha256((dist / n).read_bytes()).hexdigest(), n] for n in names]
    for name in names:
        assert "Number of verified signatures: 2" in signer.verify(dist / name).stdout, name
    pe = pefile.PE(str(dist / "setup.exe"))
    for ident, twin in ((201, "setup64.exe"), (202, "setuparm64.exe")):
        assert resource(pe, pefile.RESOURCE_TYPE["RT_RCDATA"], ident) == (dist / twin).read_bytes()
