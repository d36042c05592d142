#!/usr/bin/env python3
"""A receipt of two lines through the Python client (client/python).

    examples/receipt.py [--server NAME] [--port COM]

The server is --server or $VEKTA_SERVER (default 127.0.0.1:8460), its token --token or
$VEKTA_TOKEN (needed only from another computer). Try it on a simulated printer:
    build/app/vektamanager --simulate 1 &   examples/receipt.py --port 1
"""

import argparse
import os
import sys

try:
    import vektamanager
except ImportError:  # not installed: the client beside this example
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                    "client", "python"))
    import vektamanager


def print_receipt(orbis):
    orbis.OpenCheck("Бакалея")
    # arguments in order...
    print("Хліб житній", orbis.FiscalLine("Хліб житній", 2, 1850, 0, 1, 0, 101))
    # ...or by name
    print("Молоко", orbis.FiscalLine(GoodsName="Молоко", Qty=1, Price=3250, GoodsDividual=0,
                                     Tax1Index=1, Tax2Index=0, Article=102))
    total = orbis.GetCheckSum()
    print("СУМА", total)
    orbis.CloseCheckEx(Cash=total + 50, PayCheck=0, Credit=0, Packing=0)
    print("чек", orbis.GetCheckResult())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", help="\"name\", \"name:port\" or a URL ($VEKTA_SERVER)")
    parser.add_argument("--token", help="the server's token ($VEKTA_TOKEN)")
    parser.add_argument("--port", type=int, default=1, help="the printer's COM number")
    parser.add_argument("--cashier", default="Касир")
    parser.add_argument("--password", default="7777777777")
    args = parser.parse_args()

    try:
        with vektamanager.Client(args.server, args.token) as client, \
                client.orbis() as orbis:
            orbis.Init(args.port, args.cashier, args.password, 0, "receipt.py")
            try:
                print_receipt(orbis)
            except vektamanager.CallFailed as e:
                # the printer's reason, when it gave one
                try:
                    reason = orbis.GetLastErrorMessage()
                except vektamanager.VektaError:
                    reason = ""
                print("%s %s" % (e, reason), file=sys.stderr)
                orbis.AbortCheck()
                return 1
    except vektamanager.VektaError as e:
        print(e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
