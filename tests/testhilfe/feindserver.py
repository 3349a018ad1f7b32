#!/usr/bin/env python3
"""A hostile update server for tests, on 127.0.0.1 only.

Listens on free ports and prints "NAME PORT" for each, then "bereit":
  tls12       the test CA's certificate for 127.0.0.1, TLS 1.2 with a GCM cipher
  tls10       the same certificate, TLS 1.0 only
  cbc         the same certificate, TLS 1.2 with CBC ciphers only
  anderer     a certificate for another host name
  abgelaufen  an expired certificate
  proxy       plain HTTP, answers every request with 407 (asks for the proxy password again and again)

The first path component chooses the misbehaviour of an answer (see FAELLE); the
file has GROESSE bytes. Ends by itself after --hoechstens seconds.
Usage: feindserver.py ZERTIFIKATORDNER [--hoechstens SEKUNDEN]
"""
import os
import socket
import ssl
import struct
import sys
import threading
import time

GROESSE = 100000
INHALT = bytes((i * 7) % 251 for i in range(GROESSE))
# How long a stalling or dripping answer goes on at most (the client should end it long before).
ZAEHIGKEIT = 120

FAELLE = {
    'gut': 'the whole file',
    'reset': 'half the body, then a TCP reset',
    'weniger': 'half the announced body, then a normal close',
    'mehr': 'twice the size, announced as such',
    'stillstand': 'a little of the body, then nothing',
    'kopfstillstand': 'no answer at all',
    'tropfen': 'one byte per second',
    'endlos': 'HEAD announces the size, the GET streams without end',
    'endlosohnelaenge': 'no size anywhere, endless data',
    'fehler500': 'status 500',
}


def lese_anfrage(verbindung):
    daten = b''
    while b'\r\n\r\n' not in daten:
        stueck = verbindung.recv(4096)
        if not stueck or len(daten) > 65536:
            return None
        daten += stueck
    zeile = daten.split(b'\r\n', 1)[0].decode('latin-1').split(' ')
    return (zeile[0], zeile[1]) if len(zeile) >= 2 else None


def warte_bis_weg(verbindung, sekunden):
    """Holds the connection open without sending until the client leaves."""
    verbindung.settimeout(1)
    ende = time.monotonic() + sekunden
    while time.monotonic() < ende:
        try:
            if not verbindung.recv(4096):
                return
        except socket.timeout:
            continue
        except OSError:
            return


def kopf(status, laenge=None, zusatz=''):
    text = 'HTTP/1.1 %s\r\n' % status
    if laenge is not None:
        text += 'Content-Length: %d\r\n' % laenge
    return (text + zusatz + '\r\n').encode()


def beantworte(verbindung):
    while True:
        anfrage = lese_anfrage(verbindung)
        if anfrage is None:
            return
        methode, pfad = anfrage
        fall = pfad.strip('/').split('/')[0]
        if fall == 'fehler500':
            verbindung.sendall(kopf('500 Internal Server Error', 5) + (b'' if methode == 'HEAD' else b'kaput'))
            continue
        if fall == 'kopfstillstand':
            warte_bis_weg(verbindung, ZAEHIGKEIT)
            return
        if methode == 'HEAD':
            verbindung.sendall(kopf('200 OK', None if fall == 'endlosohnelaenge' else GROESSE))
            continue
        if fall == 'reset':
            verbindung.sendall(kopf('200 OK', GROESSE) + INHALT[:GROESSE // 2])
            verbindung.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            return
        if fall == 'weniger':
            verbindung.sendall(kopf('200 OK', GROESSE) + INHALT[:GROESSE // 2])
            return
        if fall == 'mehr':
            verbindung.sendall(kopf('200 OK', 2 * GROESSE) + INHALT + INHALT)
            return
        if fall == 'stillstand':
            verbindung.sendall(kopf('200 OK', GROESSE) + INHALT[:1000])
            warte_bis_weg(verbindung, ZAEHIGKEIT)
            return
        if fall == 'tropfen':
            verbindung.sendall(kopf('200 OK', GROESSE))
            for i in range(ZAEHIGKEIT):
                verbindung.sendall(INHALT[i:i + 1])
                time.sleep(1)
            return
        if fall in ('endlos', 'endlosohnelaenge'):
            verbindung.sendall(kopf('200 OK', None, 'Connection: close\r\n'))
            ende = time.monotonic() + ZAEHIGKEIT
            while time.monotonic() < ende:
                verbindung.sendall(INHALT)
            return
        verbindung.sendall(kopf('200 OK', GROESSE) + INHALT)


def proxy(verbindung):
    while lese_anfrage(verbindung) is not None:
        verbindung.sendall(kopf('407 Proxy Authentication Required', 0, 'Proxy-Authenticate: Basic realm="feind"\r\n'))


def bediene(lauscher, kontext, arbeit):
    while True:
        roh, _ = lauscher.accept()

        def faden(roh=roh):
            verbindung = roh
            try:
                verbindung = kontext.wrap_socket(roh, server_side=True) if kontext else roh
                arbeit(verbindung)
            except (OSError, ssl.SSLError):
                pass
            finally:
                try:
                    verbindung.close()
                except OSError:
                    pass
        threading.Thread(target=faden, daemon=True).start()


def tls(ordner, art, mindest, hoechst, chiffren):
    k = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    k.minimum_version = mindest
    k.maximum_version = hoechst
    k.set_ciphers(chiffren)
    k.load_cert_chain(os.path.join(ordner, art + '.pem'), os.path.join(ordner, art + '.key'))
    return k


def main():
    ordner = sys.argv[1]
    hoechstens = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[2] == '--hoechstens' else 600
    v12 = ssl.TLSVersion.TLSv1_2
    gcm = 'ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384'
    dienste = [
        ('tls12', tls(ordner, 'server', v12, v12, gcm), beantworte),
        ('tls10', tls(ordner, 'server', ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1, 'ALL:@SECLEVEL=0'), beantworte),
        ('cbc', tls(ordner, 'server', v12, v12, 'ECDHE-RSA-AES128-SHA256:ECDHE-RSA-AES128-SHA'), beantworte),
        ('anderer', tls(ordner, 'anderer', v12, v12, gcm), beantworte),
        ('abgelaufen', tls(ordner, 'abgelaufen', v12, v12, gcm), beantworte),
        ('proxy', None, proxy),
    ]
    for name, kontext, arbeit in dienste:
        lauscher = socket.socket()
        lauscher.bind(('127.0.0.1', 0))
        lauscher.listen(16)
        print(name, lauscher.getsockname()[1], flush=True)
        threading.Thread(target=bediene, args=(lauscher, kontext, arbeit), daemon=True).start()
    print('bereit', flush=True)
    time.sleep(hoechstens)


if __name__ == '__main__':
    main()
