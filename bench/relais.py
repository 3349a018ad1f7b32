#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that delays every chunk by VERZOEGERUNG_MS in each
direction, like a slow line: 25 ms each way make a round trip of 50 ms, while
the bandwidth stays that of the loopback. Each accepted connection is one line
in the connection log, so the benchmark counts the TLS handshakes (every new
connection of an HTTPS client is one).

    relais.py ZIELPORT VERZOEGERUNG_MS PORTDATEI VERBINDUNGSLOG

Listens on a free port, writes it to PORTDATEI once it accepts, runs until
SIGTERM.
"""
import asyncio
import os
import signal
import sys


async def leite(leser, schreiber, verzoegerung):
    # Chunks keep their order and each leaves `verzoegerung` after it came.
    schlange = asyncio.Queue()

    async def lies():
        try:
            while True:
                daten = await leser.read(65536)
                await schlange.put((asyncio.get_running_loop().time() + verzoegerung, daten))
                if not daten:
                    return
        except (ConnectionError, OSError):
            await schlange.put((0, b""))

    async def schreibe():
        try:
            while True:
                faellig, daten = await schlange.get()
                warten = faellig - asyncio.get_running_loop().time()
                if warten > 0:
                    await asyncio.sleep(warten)
                if not daten:
                    if schreiber.can_write_eof():
                        schreiber.write_eof()
                    return
                schreiber.write(daten)
                await schreiber.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(lies(), schreibe())


async def main():
    zielport = int(sys.argv[1])
    verzoegerung = int(sys.argv[2]) / 1000.0
    portdatei, log = sys.argv[3], sys.argv[4]
    nummer = 0

    async def verbindung(c_leser, c_schreiber):
        nonlocal nummer
        nummer += 1
        with open(log, "a") as f:
            f.write("%d\n" % nummer)
        try:
            s_leser, s_schreiber = await asyncio.open_connection("127.0.0.1", zielport)
        except OSError:
            c_schreiber.close()
            return
        try:
            await asyncio.gather(leite(c_leser, s_schreiber, verzoegerung), leite(s_leser, c_schreiber, verzoegerung))
        except asyncio.CancelledError:
            pass  # the relay ends
        finally:
            for s in (c_schreiber, s_schreiber):
                s.close()

    server = await asyncio.start_server(verbindung, "127.0.0.1", 0)
    with open(portdatei + ".neu", "w") as f:
        f.write("%d\n" % server.sockets[0].getsockname()[1])
    os.replace(portdatei + ".neu", portdatei)
    ende = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, ende.set)
    async with server:
        await ende.wait()


asyncio.run(main())
