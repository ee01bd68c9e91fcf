"""pymodbus peer of the otmodbussim tests: Modbus ASCII over a serial line, both ways.

  modbus_peer.py slave DEVICE
      Serves the tables below as a pymodbus slave (every unit id) until it is killed; prints
      "ready" once the line is open.
  modbus_peer.py master DEVICE VALUES
      Polls otmodbussim as slave 1: writes coils and registers and reads them back, reads the
      initial values given in the file VALUES (the simulator's -init file) and provokes an
      exception. Prints "ok: ..." per check and "FAIL: ..." for a mismatch; ends with "done"
      and exit status 0 only if every check passed.

Written against pymodbus 3.0 (Debian python3-pymodbus).
"""
import asyncio
import sys

try:
    from pymodbus.client import ModbusSerialClient
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer
    from pymodbus.server.async_io import ModbusSerialServer
except ImportError as e:
    print(f"FAIL: cannot import pymodbus ({e}); scripts/test.sh installs python3-pymodbus",
          flush=True)
    sys.exit(3)

SIZE = 200


# The slave's tables, known to the test that polls them.
def slave_tables():
    return {
        "co": [1 if i % 3 == 0 else 0 for i in range(SIZE)],
        "di": [1 if i % 2 == 0 else 0 for i in range(SIZE)],
        "hr": [1000 + i for i in range(SIZE)],
        "ir": [2000 + i for i in range(SIZE)],
    }


async def serve(device):
    tables = slave_tables()
    # zero_mode: address 0 on the wire is the first value, as in otmodbussim.
    store = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, tables["co"]),
        di=ModbusSequentialDataBlock(0, tables["di"]),
        hr=ModbusSequentialDataBlock(0, tables["hr"]),
        ir=ModbusSequentialDataBlock(0, tables["ir"]),
        zero_mode=True)
    context = ModbusServerContext(slaves=store, single=True)
    server = ModbusSerialServer(context, framer=ModbusAsciiFramer, port=device, baudrate=9600)
    await server.start()
    print("ready", flush=True)
    await server.serve_forever()


def read_values(path):
    """The -init file: TABLE ADDRESS VALUE ... per line, '#' comments."""
    tables = {}
    with open(path) as f:
        for line in f:
            words = line.split("#")[0].split()
            if not words:
                continue
            start = int(words[1], 0)
            for i, text in enumerate(words[2:]):
                tables.setdefault(words[0], {})[start + i] = int(text, 0)
    return tables


class Checks:
    def __init__(self):
        self.failed = 0

    def equal(self, what, got, expected):
        if got == expected:
            print(f"ok: {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL: {what}: got {got}, expected {expected}", flush=True)


def registers(reply):
    return reply.registers if not reply.isError() else f"error {reply}"


def bits(reply, count):
    return [int(b) for b in reply.bits[:count]] if not reply.isError() else f"error {reply}"


def poll(device, values_path):
    init = read_values(values_path)
    check = Checks()
    client = ModbusSerialClient(port=device, framer=ModbusAsciiFramer, baudrate=9600, timeout=3)
    if not client.connect():
        print(f"FAIL: cannot open {device}", flush=True)
        return 1
    try:
        regs = [1, 0x1234, 0xFFFF, 0, 42]
        check.equal("write registers", client.write_registers(100, regs, slave=1).isError(),
                    False)
        check.equal("read registers", registers(client.read_holding_registers(100, 5, slave=1)),
                    regs)
        check.equal("write register", client.write_register(7, 777, slave=1).isError(), False)
        check.equal("read register", registers(client.read_holding_registers(7, 1, slave=1)),
                    [777])

        coils = [1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1]
        check.equal("write coils", client.write_coils(30, [bool(c) for c in coils],
                                                      slave=1).isError(), False)
        check.equal("read coils", bits(client.read_coils(30, len(coils), slave=1), len(coils)),
                    coils)
        check.equal("write coil", client.write_coil(29, True, slave=1).isError(), False)
        check.equal("read coil", bits(client.read_coils(29, 2, slave=1), 2), [1, 1])

        ir = init["input"]
        check.equal("read input registers",
                    registers(client.read_input_registers(0, len(ir), slave=1)),
                    [ir[a] for a in sorted(ir)])
        di = init["discrete"]
        check.equal("read discrete inputs",
                    bits(client.read_discrete_inputs(0, len(di), slave=1), len(di)),
                    [di[a] for a in sorted(di)])
        hr = init["holding"]
        first = min(hr)
        check.equal("read initial holding registers",
                    registers(client.read_holding_registers(first, len(hr), slave=1)),
                    [hr[a] for a in sorted(hr)])

        bad = client.read_holding_registers(65000, 1, slave=1)
        check.equal("exception for an address outside the table",
                    getattr(bad, "exception_code", None), 2)
        check.equal("served after the exception",
                    registers(client.read_holding_registers(7, 1, slave=1)), [777])
    finally:
        client.close()
    print("done", flush=True)
    return 1 if check.failed else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "slave":
        asyncio.run(serve(argv[2]))
        return 0
    if len(argv) == 4 and argv[1] == "master":
        return poll(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
