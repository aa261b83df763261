#!/usr/bin/python3
"""OpenVPN password check (auth-user-pass-verify ... via-file).

usage: auth_check.py ACCOUNTS CREDENTIALS
ACCOUNTS holds one account per line, "user<TAB>password"; CREDENTIALS is the file OpenVPN
writes (user name line, password line). The texts are only compared, never run: the lab's
odd account is full of shell metacharacters. Exit 0 accepts, anything else rejects.
"""
import hmac
import sys

LIMIT = 4096


def read_lines(path):
    with open(path, "rb") as stream:
        data = stream.read(LIMIT + 1)
    if len(data) > LIMIT:
        raise ValueError("%s is too large" % path)
    return data.decode("utf-8").split("\n")


def main():
    if len(sys.argv) != 3:
        print("usage: auth_check.py ACCOUNTS CREDENTIALS", file=sys.stderr)
        return 2
    try:
        given = read_lines(sys.argv[2])
        accounts = [line.split("\t", 1) for line in read_lines(sys.argv[1]) if line]
    except (OSError, ValueError) as error:
        print("auth_check: %s" % error, file=sys.stderr)
        return 2
    if len(given) < 2:
        return 1
    user, password = given[0].encode(), given[1].encode()
    for entry in accounts:
        if len(entry) != 2:
            continue
        # Both compared every time, so the answer takes as long for a wrong user name.
        same_user = hmac.compare_digest(user, entry[0].encode())
        same_password = hmac.compare_digest(password, entry[1].encode())
        if same_user and same_password:
            return 0
    print("auth_check: rejected user %r" % given[0], file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
