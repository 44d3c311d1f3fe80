"""Resident memory of the hand-written paths stays flat over 10^5 calls each, measured in a child
process of its own so that nothing else in the run allocates meanwhile."""

import os
import subprocess
import sys
import textwrap

import pytest

CALLS = 10**5
# A leak of one small Python object per call (a float is 24 bytes) grows by 2.4 MB.
TOLERANCE = 2**20
pytestmark = pytest.mark.slow
SETUP = """
import array, copy, pickle
import vexa, vexa_io
x, y, short, m, z = vexa.vecd(50), vexa.vecd(50), vexa.vecd(3), vexa.matz(4, 4), vexa.vecz(50)
data, ints, md = array.array("d", range(50)), array.array("i", range(50)), vexa.matd(4, 4)
"""
# One statement per path, run 10^4 times to warm up, then CALLS times between two readings.
PATHS = {
    "front returns a container": "vexa.axpy(1.5, x, y)",
    "front returns a real": "vexa.dot(x, y)",
    "front returns a complex": "vexa.hdot(z, z)",
    "front raises": "try:\n    vexa.axpy(1.5, x, short)\nexcept RuntimeError:\n    pass",
    "slots get": "x[3], m[1, 2]",
    "slots set": "x[3] = 2.5\nm[1, 2] = 1j",
    "slots raise": "try:\n    x[50] = 1.5\nexcept RuntimeError:\n    pass",
    "asbuffer": "vexa_io.asbuffer(x[1:40])[0], vexa_io.asbuffer(md)[1, 2]",
    "asbuffer raises": "try:\n    vexa_io.asbuffer(data)\nexcept TypeError:\n    pass",
    "from_buffer": "vexa_io.from_buffer(data)",
    "from_buffer raises": "try:\n    vexa_io.from_buffer(ints)\nexcept TypeError:\n    pass",
    # The array refuses to grow while any export of it is held.
    "wrap": "vexa_io.wrap(data)[0:10], vexa_io.wrap(data, vexa.vecd)\ndata.append(1.0)\ndata.pop()",
    "wrap raises": "try:\n    vexa_io.wrap(data, vexa.matd)\nexcept TypeError:\n    pass",
    "pickle": "pickle.loads(pickle.dumps(md, 5)), pickle.loads(pickle.dumps(x[2:9], 2))",
    "pickle raises": "try:\n    vexa_io._restore('vecd', (3,), b'')\nexcept ValueError:\n    pass",
    "copy": "copy.copy(z), copy.deepcopy(m)",
}
CHILD = """
def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

def run(calls):
    for _ in range(calls):
{statement}

run(10**4)
before = resident()
run({calls})
print(resident() - before)
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="reads /proc/self/statm")
@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer keeps freed memory in quarantine",
)
@pytest.mark.parametrize("path", PATHS)
def test_resident_memory_is_flat(path):
    statement = textwrap.indent(PATHS[path], " " * 8)
    code = "import os\n" + SETUP + CHILD.format(statement=statement, calls=CALLS)
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert child.returncode == 0, child.stderr
    assert int(child.stdout) <= TOLERANCE
