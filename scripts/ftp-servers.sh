# Starts and stops the FTP servers the end-to-end tests use: pyftpdlib and
# vsftpd, on loopback ports, each over a folder of its own. Sourced by
# scripts/test.
#   qb_start_ftp_servers DIR   exports QB_PYFTPD_* and QB_VSFTPD_*
#   qb_stop_ftp_servers

QB_PYFTPD_PORT=${QB_PYFTPD_PORT:-2121}
QB_VSFTPD_PORT=${QB_VSFTPD_PORT:-2122}
# pyftpdlib again on the IPv6 loopback, where the machine has one.
QB_PYFTPD6_PORT=${QB_PYFTPD6_PORT:-2123}
QB_PYFTPD6_PASV_PORTS=${QB_PYFTPD6_PASV_PORTS:-42000-42999}
# Passive port ranges; a second pair of servers running at the same time
# (benchmarks) sets its own.
QB_PYFTPD_PASV_PORTS=${QB_PYFTPD_PASV_PORTS:-40000-40999}
QB_VSFTPD_PASV_MIN=${QB_VSFTPD_PASV_MIN:-41000}
QB_VSFTPD_PASV_MAX=${QB_VSFTPD_PASV_MAX:-41999}

qb_wait_port() { # qb_wait_port PORT [HOST]: waits until something listens there
    local i host=${2:-127.0.0.1}
    for i in $(seq 1 50); do
        if (exec 3<>"/dev/tcp/$host/$1") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

qb_start_ftp_servers() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/pyftpd" "$dir/vsftpd/root/upload" "$dir/vsftpd/empty"

    # pyftpdlib: user "qb" with password "qbsecret", full rights in its folder.
    /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$QB_PYFTPD_PORT" -w -d "$dir/pyftpd" \
        -u qb -P qbsecret -r "$QB_PYFTPD_PASV_PORTS" >"$dir/pyftpd.log" 2>&1 &
    echo $! >"$dir/pyftpd.pid"

    # vsftpd: anonymous, with uploads and folder changes in upload/.
    chown ftp "$dir/vsftpd/root/upload" 2>/dev/null || chmod 0777 "$dir/vsftpd/root/upload"
    chmod 0555 "$dir/vsftpd/root"
    cat >"$dir/vsftpd.conf" <<CONF
listen=YES
listen_address=127.0.0.1
listen_port=$QB_VSFTPD_PORT
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$dir/vsftpd/root
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
write_enable=YES
local_enable=NO
pasv_enable=YES
pasv_min_port=$QB_VSFTPD_PASV_MIN
pasv_max_port=$QB_VSFTPD_PASV_MAX
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=$dir/vsftpd/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
vsftpd_log_file=$dir/vsftpd.log
dual_log_enable=YES
CONF
    /usr/sbin/vsftpd "$dir/vsftpd.conf" >"$dir/vsftpd.out" 2>&1 &
    echo $! >"$dir/vsftpd.pid"

    # The IPv6 one only where ::1 can be bound.
    unset QB_PYFTPD6_URL
    if /usr/bin/python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' \
        2>/dev/null; then
        mkdir -p "$dir/pyftpd6"
        /usr/bin/python3 -m pyftpdlib -i ::1 -p "$QB_PYFTPD6_PORT" -w -d "$dir/pyftpd6" \
            -u qb -P qbsecret -r "$QB_PYFTPD6_PASV_PORTS" >"$dir/pyftpd6.log" 2>&1 &
        echo $! >"$dir/pyftpd6.pid"
        if qb_wait_port "$QB_PYFTPD6_PORT" ::1; then
            export QB_PYFTPD6_URL="ftp://qb@[::1]:$QB_PYFTPD6_PORT" QB_PYFTPD6_ROOT="$dir/pyftpd6"
        else
            cat "$dir/pyftpd6.log"
            say "pyftpdlib did not start on ::1; the IPv6 tests are skipped"
        fi
    fi

    qb_wait_port "$QB_PYFTPD_PORT" || { cat "$dir/pyftpd.log"; die "pyftpdlib did not start"; }
    qb_wait_port "$QB_VSFTPD_PORT" || { cat "$dir/vsftpd.out"; die "vsftpd did not start"; }
    export QB_PYFTPD_URL="ftp://qb@127.0.0.1:$QB_PYFTPD_PORT" QB_PYFTPD_PASSWORD=qbsecret
    export QB_PYFTPD_ROOT="$dir/pyftpd"
    export QB_VSFTPD_URL="ftp://127.0.0.1:$QB_VSFTPD_PORT" QB_VSFTPD_ROOT="$dir/vsftpd/root"
    say "FTP servers: pyftpdlib on $QB_PYFTPD_PORT, vsftpd on $QB_VSFTPD_PORT"
}

qb_stop_ftp_servers() {
    local dir=$1 f
    for f in "$dir"/*.pid; do
        [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null
        rm -f "$f"
    done
    return 0
}
