"""scripts/sign.sh on both files, with a throwaway certificate made here."""
import shutil

from machine import sample_package
from test_package import success


def test_signature_verifies(any_build, signer):
    verify = signer.verify(signer.signed(any_build))
    assert "Signature verification: ok" in verify.stdout, verify.stdout + verify.stderr
    assert "Message digest algorithm  : SHA256" in verify.stdout


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
