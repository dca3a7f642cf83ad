"""Windows NT services under Wine, end to end: the project's own service
program is registered under the name its property block carries, with the
package's display name, start type, dependencies, description and account;
a user-account service needs /user, and the account given with /user and
/password is the one it is registered under; a failure after the services
rolls them back."""
import re
import shutil

import pytest

from packing import pack
from test_batch_install import console

PACKAGE = "Corv Service"
DEST = "C:\\Corv Service"
NAME = "CorvTestSvc"
SERVICE_KEY = "[System\\\\CurrentControlSet\\\\Services\\\\" + NAME + "]"


def description(account):
    return f"""
[package]
name = "{PACKAGE}"
overwrite = "always"
uninstaller = "bin/corvservice.exe"

[destination]
base = "path"
folder = '{DEST}'

[files]
source = "product"

[[service]]
executable = "bin/corvservice.exe"
display-name = "Corv Test Service"
description = "Corv agent for tests"
start = "on-demand"
account = "{account}"
dependencies = ["RpcSs", "EventLog"]
"""


@pytest.fixture(scope="session")
def service_product(build_dir, tmp_path_factory):
    program = build_dir / "tests" / "corvservice.exe"
    assert program.exists(), "build the Windows tree first (make win32)"
    product = tmp_path_factory.mktemp("service") / "product"
    (product / "bin").mkdir(parents=True)
    shutil.copy(program, product / "bin" / "corvservice.exe")
    return product


def service_values(prefix):
    """The values of the service's key in system.reg, or None without one."""
    prefix.wait()
    lines = (prefix.path / "system.reg").read_text(errors="replace").splitlines()
    # A section line ends with Wine's time stamp.
    start = next((i for i, line in enumerate(lines) if line.startswith(SERVICE_KEY)), None)
    if start is None:
        return None
    values = {}
    for line in lines[start + 1:]:
        if line.startswith("["):
            break
        m = re.match(r'^"([^"]+)"=(.*)$', line)
        if m:
            values[m.group(1)] = m.group(2)
    return values


def failure(reason):
    return (f"Severe error: Corvantis Installer has failed to install {PACKAGE} on your computer "
            f"due to the following error: {reason}\n")


def test_a_system_service_is_registered_under_its_bound_name(prefix, corvpack, installer_stub, service_product,
                                                            tmp_path):
    setup = pack(corvpack, installer_stub, tmp_path / "system", description("system"), service_product)
    rc, out = prefix.run(setup, "/batch")
    assert (rc, console(out)) == (0, f"Corvantis Installer has successfully installed {PACKAGE} on your computer.\n")
    values = service_values(prefix)
    assert values is not None
    assert values["DisplayName"] == '"Corv Test Service"'
    assert values["Description"] == '"Corv agent for tests"'
    assert values["ImagePath"].endswith(r'"\"C:\\Corv Service\\bin\\corvservice.exe\""')
    assert values["Start"] == "dword:00000003"
    assert values["Type"] == "dword:00000010"
    assert values["ObjectName"] == '"LocalSystem"'
    # Wine's ANSI service call keeps the first dependency and garbage behind
    # it; the list passed is checked by the unit test of the registration.
    assert values["DependOnService"].startswith('str(7):"RpcSs\\0')
    log = prefix.host_path(DEST + "\\bin\\install.log").read_bytes().decode("utf-16-le")
    assert f"ntservice {NAME}\n" in log


def test_a_user_account_service_needs_user_and_gets_that_account(prefix, corvpack, installer_stub, service_product,
                                                                tmp_path):
    setup = pack(corvpack, installer_stub, tmp_path / "user", description("user"), service_product)
    before = prefix.snapshot()
    rc, out = prefix.run(setup, "/batch")
    assert (rc, console(out)) == (1, failure(
        "User name must be specified to install Windows NT service 'Corv agent for tests'"))
    assert prefix.snapshot() == before

    rc, out = prefix.run(setup, "/batch", "/user", ".\\corvagent", "/password", "s3cret")
    assert rc == 0, out
    values = service_values(prefix)
    assert values["ObjectName"] == '".\\\\corvagent"'
    assert values["Type"] == "dword:00000010"


def test_a_failure_after_the_services_removes_them(prefix, corvpack, installer_stub, service_product, tmp_path):
    setup = pack(corvpack, installer_stub, tmp_path / "failing", description("system"), service_product)
    # The install log cannot be written (a folder of its name is in the
    # way): the installation fails after the service was registered.
    prefix.host_path(DEST + "\\bin\\install.log").mkdir(parents=True)
    before = prefix.snapshot()
    rc, out = prefix.run(setup, "/batch")
    assert rc == 1
    assert console(out).endswith(failure(f"Unable to write file {DEST}\\bin\\install.log")), out
    assert service_values(prefix) is None
    assert prefix.snapshot() == before
