// The file systems this program knows, by the number statfs gives each. A
// lock file stays on any file system not named here, and a copy from it is
// checked byte for byte: what is not known to be safe counts as unsafe.
#include "platform/file_systems-posix.h"

#include <linux/magic.h>
#include <sys/statfs.h>

// Kernel headers before 5.17 lack the SMB client's numbers, and older ones
// exFAT's and FUSE's; ntfs3's, ZFS's, JFS's and GFS2's are in none, and
// bcachefs's only in recent ones.
#ifndef CIFS_SUPER_MAGIC
#define CIFS_SUPER_MAGIC 0xFF534D42
#endif
#ifndef SMB2_SUPER_MAGIC
#define SMB2_SUPER_MAGIC 0xFE534D42
#endif
#ifndef EXFAT_SUPER_MAGIC
#define EXFAT_SUPER_MAGIC 0x2011BAB0
#endif
#ifndef FUSE_SUPER_MAGIC
#define FUSE_SUPER_MAGIC 0x65735546
#endif
#ifndef NTFS3_SUPER_MAGIC
#define NTFS3_SUPER_MAGIC 0x7366746e
#endif
#ifndef ZFS_SUPER_MAGIC
#define ZFS_SUPER_MAGIC 0x2fc12fc1
#endif
#ifndef BCACHEFS_SUPER_MAGIC
#define BCACHEFS_SUPER_MAGIC 0xca451a4e
#endif
#ifndef JFS_SUPER_MAGIC
#define JFS_SUPER_MAGIC 0x3153464a
#endif
#ifndef REISERFS_SUPER_MAGIC
#define REISERFS_SUPER_MAGIC 0x52654973
#endif
#ifndef NILFS_SUPER_MAGIC
#define NILFS_SUPER_MAGIC 0x3434
#endif
#ifndef GFS2_SUPER_MAGIC
#define GFS2_SUPER_MAGIC 0x01161970
#endif
#ifndef OCFS2_SUPER_MAGIC
#define OCFS2_SUPER_MAGIC 0x7461636f
#endif

namespace platform::posix {
namespace {

constexpr FileSystem kFileSystems[] = {
    // A disk of this machine, which only its kernel writes to: every open
    // goes through the kernel that counts it for the lease. Exact times where
    // the disk keeps nanoseconds; JFS and ReiserFS keep whole seconds, FAT
    // and exFAT steps of 10 ms to 2 s, NTFS steps of 100 ns.
    {EXT4_SUPER_MAGIC, "ext4", Lease::kSeesAll, true},  // ext2 and ext3 too
    {XFS_SUPER_MAGIC, "XFS", Lease::kSeesAll, true},
    {BTRFS_SUPER_MAGIC, "btrfs", Lease::kSeesAll, true},
    {F2FS_SUPER_MAGIC, "f2fs", Lease::kSeesAll, true},
    {ZFS_SUPER_MAGIC, "ZFS", Lease::kSeesAll, true},
    {BCACHEFS_SUPER_MAGIC, "bcachefs", Lease::kSeesAll, true},
    {NILFS_SUPER_MAGIC, "NILFS2", Lease::kSeesAll, true},
    {JFS_SUPER_MAGIC, "JFS", Lease::kSeesAll, false},
    {REISERFS_SUPER_MAGIC, "ReiserFS", Lease::kSeesAll, false},
    {MSDOS_SUPER_MAGIC, "vfat", Lease::kSeesAll, false},
    {EXFAT_SUPER_MAGIC, "exfat", Lease::kSeesAll, false},
    {NTFS3_SUPER_MAGIC, "ntfs3", Lease::kSeesAll, false},
    {TMPFS_MAGIC, "tmpfs", Lease::kSeesAll, true},  // memory of this machine
    // FUSE's lease counts only the opens made through this machine's mount:
    // a network daemon (sshfs, virtiofs, rclone, glusterfs) serves others
    // unseen. Its times come from the daemon, which may set them late.
    {FUSE_SUPER_MAGIC, "FUSE", Lease::kSeesAllOnDisk, false},
    // A network mount: the server's clock and cache decide its times.
    {CIFS_SUPER_MAGIC, "SMB", Lease::kServerRefuses, false},
    {SMB2_SUPER_MAGIC, "SMB", Lease::kServerRefuses, false},
    {NFS_SUPER_MAGIC, "NFS", Lease::kBlind, false},
    // overlayfs does not see opens made through its upper directory.
    {OVERLAYFS_SUPER_MAGIC, "overlayfs", Lease::kBlind, false},
    // Cluster file systems share one disk between machines, and the lease
    // sees none of another machine's opens.
    {GFS2_SUPER_MAGIC, "GFS2", Lease::kBlind, false},
    {OCFS2_SUPER_MAGIC, "OCFS2", Lease::kBlind, false},
};

}  // namespace

unsigned long fileSystemType(int fd) {
  struct statfs system {};
  return fstatfs(fd, &system) == 0 ? static_cast<unsigned long>(system.f_type) : 0;
}

const FileSystem* knownFileSystem(unsigned long type) {
  for (const FileSystem& system : kFileSystems) {
    if (system.type == type) return &system;
  }
  return nullptr;
}

// NFS 4 and the SMB client.
bool leasesNeedDelegation(unsigned long type) {
  return type == NFS_SUPER_MAGIC || type == CIFS_SUPER_MAGIC || type == SMB2_SUPER_MAGIC;
}

}  // namespace platform::posix
