# Starts and stops the FTP servers the end-to-end tests use: pyftpdlib and
# vsftpd, on loopback ports, each over a folder of its own. Sourced by
# scripts/test.
#   qb_start_ftp_servers DIR   exports QB_PYFTPD_* and QB_VSFTPD_*
#   qb_stop_ftp_servers

QB_PYFTPD_PORT=${QB_PYFTPD_PORT:-2121}
QB_VSFTPD_PORT=${QB_VSFTPD_PORT:-2122}
# The TLS servers: vsftpd with explicit TLS, vsftpd with implicit TLS, and
# pyftpdlib with explicit TLS (a self-signed certificate).
QB_VSFTPD_TLS_PORT=${QB_VSFTPD_TLS_PORT:-2124}
QB_VSFTPD_TLS_PASV_MIN=${QB_VSFTPD_TLS_PASV_MIN:-45000}
QB_VSFTPD_TLS_PASV_MAX=${QB_VSFTPD_TLS_PASV_MAX:-45499}
QB_VSFTPD_FTPS_PORT=${QB_VSFTPD_FTPS_PORT:-2125}
QB_VSFTPD_FTPS_PASV_MIN=${QB_VSFTPD_FTPS_PASV_MIN:-45500}
QB_VSFTPD_FTPS_PASV_MAX=${QB_VSFTPD_FTPS_PASV_MAX:-45999}
QB_PYFTPD_TLS_PORT=${QB_PYFTPD_TLS_PORT:-2126}
QB_PYFTPD_TLS_PASV_PORTS=${QB_PYFTPD_TLS_PASV_PORTS:-46000-46499}
# pyftpdlib again on the IPv6 loopback, where the machine has one.
QB_PYFTPD6_PORT=${QB_PYFTPD6_PORT:-2123}
QB_PYFTPD6_PASV_PORTS=${QB_PYFTPD6_PASV_PORTS:-44000-44499}
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
    # (scripts/pyftpd.py: pyftpdlib with its active-mode fault mended.)
    /usr/bin/python3 "$QB_ROOT/scripts/pyftpd.py" -i 127.0.0.1 -p "$QB_PYFTPD_PORT" -w \
        -d "$dir/pyftpd" -u qb -P qbsecret -r "$QB_PYFTPD_PASV_PORTS" >"$dir/pyftpd.log" 2>&1 &
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

    # Certificates made now, kept with the servers: a test CA and a server
    # certificate it signed for 127.0.0.1 and ::1 (no host name), and a
    # self-signed one.
    local tls=$dir/tls
    mkdir -p "$tls"
    (
        cd "$tls" || exit 1
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
            -subj "/CN=Quillbeck Test CA" 2>/dev/null &&
            openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr \
                -subj "/CN=127.0.0.1" 2>/dev/null &&
            printf '%s\n' "subjectAltName=IP:127.0.0.1,IP:::1" "basicConstraints=CA:FALSE" \
                "extendedKeyUsage=serverAuth" >server.ext &&
            openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
                -out server.pem -days 2 -extfile server.ext 2>/dev/null &&
            openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 2 \
                -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
    ) || die "cannot make the test certificates"
    chmod 0644 "$tls"/*.pem "$tls"/*.key

    # vsftpd with TLS: the same anonymous setup over its own folder,
    # explicit (AUTH TLS, required) and implicit; require_ssl_reuse stays at
    # its default (YES): data connections must resume the control's session.
    local mode port min max
    for mode in tls ftps; do
        if [ $mode = tls ]; then
            port=$QB_VSFTPD_TLS_PORT min=$QB_VSFTPD_TLS_PASV_MIN max=$QB_VSFTPD_TLS_PASV_MAX
        else
            port=$QB_VSFTPD_FTPS_PORT min=$QB_VSFTPD_FTPS_PASV_MIN max=$QB_VSFTPD_FTPS_PASV_MAX
        fi
        mkdir -p "$dir/vsftpd-$mode/root/upload"
        chown ftp "$dir/vsftpd-$mode/root/upload" 2>/dev/null ||
            chmod 0777 "$dir/vsftpd-$mode/root/upload"
        chmod 0555 "$dir/vsftpd-$mode/root"
        sed -e "s|^listen_port=.*|listen_port=$port|" \
            -e "s|^anon_root=.*|anon_root=$dir/vsftpd-$mode/root|" \
            -e "s|^pasv_min_port=.*|pasv_min_port=$min|" \
            -e "s|^pasv_max_port=.*|pasv_max_port=$max|" \
            -e "s|^vsftpd_log_file=.*|vsftpd_log_file=$dir/vsftpd-$mode.log|" \
            "$dir/vsftpd.conf" >"$dir/vsftpd-$mode.conf"
        cat >>"$dir/vsftpd-$mode.conf" <<CONF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
rsa_cert_file=$tls/server.pem
rsa_private_key_file=$tls/server.key
implicit_ssl=$([ $mode = ftps ] && echo YES || echo NO)
CONF
        /usr/sbin/vsftpd "$dir/vsftpd-$mode.conf" >"$dir/vsftpd-$mode.out" 2>&1 &
        echo $! >"$dir/vsftpd-$mode.pid"
    done

    # pyftpdlib with TLS required, self-signed.
    mkdir -p "$dir/pyftpd-tls"
    /usr/bin/python3 "$QB_ROOT/scripts/ftps-server.py" "$QB_PYFTPD_TLS_PORT" "$dir/pyftpd-tls" \
        "$tls/self.pem" "$tls/self.key" "$QB_PYFTPD_TLS_PASV_PORTS" >"$dir/pyftpd-tls.log" 2>&1 &
    echo $! >"$dir/pyftpd-tls.pid"

    # The IPv6 one only where ::1 can be bound.
    unset QB_PYFTPD6_URL
    if /usr/bin/python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' \
        2>/dev/null; then
        mkdir -p "$dir/pyftpd6"
        /usr/bin/python3 "$QB_ROOT/scripts/pyftpd.py" -i ::1 -p "$QB_PYFTPD6_PORT" -w \
            -d "$dir/pyftpd6" -u qb -P qbsecret -r "$QB_PYFTPD6_PASV_PORTS" \
            >"$dir/pyftpd6.log" 2>&1 &
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
    qb_wait_port "$QB_VSFTPD_TLS_PORT" || { cat "$dir/vsftpd-tls.out"; die "vsftpd (TLS) did not start"; }
    qb_wait_port "$QB_VSFTPD_FTPS_PORT" ||
        { cat "$dir/vsftpd-ftps.out"; die "vsftpd (implicit TLS) did not start"; }
    qb_wait_port "$QB_PYFTPD_TLS_PORT" ||
        { cat "$dir/pyftpd-tls.log"; die "pyftpdlib (TLS) did not start"; }
    export QB_TLS_CA="$tls/ca.pem"
    export QB_VSFTPD_TLS_URL="ftp://127.0.0.1:$QB_VSFTPD_TLS_PORT"
    export QB_VSFTPD_TLS_ROOT="$dir/vsftpd-tls/root"
    export QB_VSFTPD_FTPS_URL="ftps://127.0.0.1:$QB_VSFTPD_FTPS_PORT"
    export QB_VSFTPD_FTPS_ROOT="$dir/vsftpd-ftps/root"
    export QB_PYFTPD_TLS_URL="ftp://qb@127.0.0.1:$QB_PYFTPD_TLS_PORT"
    export QB_PYFTPD_TLS_ROOT="$dir/pyftpd-tls"
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
