#include "usb_machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hw {

const Maker FTDI = {"0403", "6001", "ftdi_sio"};
const Maker PROLIFIC = {"067b", "2303", "pl2303"};

namespace {

// Where the USB host controller sits; every adapter hangs below it.
const std::string HUB = "devices/pci0000:00/0000:00:14.0/usb1";

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

const std::string& enter_private_mounts()
{
    static const std::string reason = [] {
        if (geteuid() != 0)
            return std::string("needs root: the USB adapter is made with bind mounts over /sys "
                               "and /dev in a private mount namespace");
        if (unshare(CLONE_NEWNS) != 0)
            return failed("unshare(CLONE_NEWNS)");
        // Nothing mounted from here on may show on the host.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return failed("making / private");
        return std::string();
    }();
    return reason;
}

bool write_text(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

bool make_dirs(const std::string& path)
{
    std::size_t at = 0;
    do {
        at = path.find('/', at + 1);
        if (mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    } while (at != std::string::npos);
    return true;
}

// A relative link at `link` (below `root`) to `target` (also below `root`), as sysfs has
// them, so that it resolves the same once the tree is bound over /sys.
bool sys_link(const std::string& root, const std::string& target, const std::string& link)
{
    std::string up;
    for (char c : link)
        if (c == '/')
            up += "../";
    return symlink((up + target).c_str(), (root + "/" + link).c_str()) == 0;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void remove_tree(const std::string& path)
{
    nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string port_dir(int number)
{
    const std::string device = HUB + "/1-" + std::to_string(number + 1);
    return device + "/1-" + std::to_string(number + 1) + ":1.0/ttyUSB" + std::to_string(number);
}

} // namespace

const std::string& unavailable_reason() { return enter_private_mounts(); }

UsbMachine::UsbMachine()
{
    if (!enter_private_mounts().empty())
        return;
    // /dev: a tmpfs made aside and moved in whole, holding what a tool and the test harness
    // open (the host's pseudo-terminals among them).
    char stage[] = "/tmp/usb-dev.XXXXXX";
    if (mkdtemp(stage) == nullptr || mount("tmpfs", stage, "tmpfs", MS_NOSUID, "mode=755") != 0) {
        ADD_FAILURE() << failed("tmpfs for /dev");
        return;
    }
    const std::string dev = stage;
    struct Node {
        const char* name;
        unsigned major, minor;
    };
    for (const Node& node :
         {Node{"null", 1, 3}, Node{"zero", 1, 5}, Node{"full", 1, 7}, Node{"random", 1, 8},
          Node{"urandom", 1, 9}, Node{"tty", 5, 0}, Node{"ptmx", 5, 2}}) {
        const std::string path = dev + "/" + node.name;
        if (mknod(path.c_str(), S_IFCHR, makedev(node.major, node.minor)) != 0 ||
            chmod(path.c_str(), 0666) != 0)
            ADD_FAILURE() << failed("mknod " + path);
    }
    symlink("/proc/self/fd", (dev + "/fd").c_str());
    mkdir((dev + "/pts").c_str(), 0755);
    if (mount("/dev/pts", (dev + "/pts").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(stage, "/dev", nullptr, MS_MOVE, nullptr) != 0) {
        ADD_FAILURE() << failed("mounting the new /dev");
        return;
    }
    dev_mounted_ = true;
    rmdir(stage);

    // /sys: the parts of sysfs that a USB serial port brings.
    char root[] = "/tmp/usb-sys.XXXXXX";
    if (mkdtemp(root) == nullptr) {
        ADD_FAILURE() << failed("sysfs tree");
        return;
    }
    sys_root_ = root;
    for (const char* dir :
         {"class/tty", "bus/usb-serial/devices", "bus/usb-serial/drivers/ftdi_sio",
          "bus/usb-serial/drivers/pl2303", "bus/usb/drivers/ftdi_sio", "bus/usb/drivers/pl2303",
          "devices/pci0000:00/0000:00:14.0/usb1"}) {
        if (!make_dirs(sys_root_ + "/" + dir))
            ADD_FAILURE() << failed(dir);
    }
    if (mount(root, "/sys", nullptr, MS_BIND, nullptr) != 0) {
        ADD_FAILURE() << failed("binding the tree over /sys");
        return;
    }
    sys_mounted_ = true;
    ok_ = true;
}

UsbMachine::~UsbMachine()
{
    if (sys_mounted_)
        umount2("/sys", MNT_DETACH);
    if (dev_mounted_)
        umount2("/dev", MNT_DETACH);
    if (!sys_root_.empty())
        remove_tree(sys_root_);
}

bool UsbMachine::plug(int number, const std::string& pty_path, const Maker& maker,
                      bool latency_writable)
{
    const std::string n = std::to_string(number);
    const std::string name = "ttyUSB" + n;
    const std::string port = port_dir(number);
    const std::string interface = port.substr(0, port.rfind('/'));
    const std::string device = interface.substr(0, interface.rfind('/'));
    const std::string tty = port + "/tty/" + name;
    const std::string& root = sys_root_;
    bool good = make_dirs(root + "/" + tty);
    good = good && write_text(root + "/" + device + "/idVendor", std::string(maker.vendor) + "\n");
    good =
        good && write_text(root + "/" + device + "/idProduct", std::string(maker.product) + "\n");
    good = good && write_text(root + "/" + interface + "/bInterfaceNumber", "00\n");
    good = good &&
           sys_link(root, std::string("bus/usb/drivers/") + maker.driver, interface + "/driver");
    good = good && write_text(root + "/" + port + "/port_number", "0\n");
    good = good &&
           sys_link(root, std::string("bus/usb-serial/drivers/") + maker.driver, port + "/driver");
    good = good && write_text(root + "/" + tty + "/dev", "188:" + n + "\n");
    good = good && sys_link(root, port, tty + "/device");
    good = good && sys_link(root, "class/tty", tty + "/subsystem");
    good = good && sys_link(root, tty, "class/tty/" + name);
    good = good && sys_link(root, port, "bus/usb-serial/devices/" + name);
    if (std::strcmp(maker.driver, "ftdi_sio") == 0) {
        const std::string timer = "/sys/" + port + "/latency_timer";
        good = good && write_text(timer, "16\n");
        // As root a file's mode does not stop a write; a read-only mount does.
        if (!latency_writable) {
            good = good && mount(timer.c_str(), timer.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                   mount(nullptr, timer.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                         nullptr) == 0;
        }
    }
    // The node is the pseudo-terminal itself, not a link to it: its real path stays
    // /dev/ttyUSBn, as the kernel's would.
    const std::string node = "/dev/" + name;
    good = good && write_text(node, "");
    good = good && mount(pty_path.c_str(), node.c_str(), nullptr, MS_BIND, nullptr) == 0;
    EXPECT_TRUE(good) << failed("plugging in " + name);
    return good;
}

void UsbMachine::pull_out(int number)
{
    const std::string name = "ttyUSB" + std::to_string(number);
    const std::string node = "/dev/" + name;
    // What the usb-serial core does on a disconnect: hang up every open file of the tty.
    const int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << failed(node);
    if (fd >= 0) {
        EXPECT_EQ(ioctl(fd, TIOCVHANGUP), 0) << failed("hanging up " + node);
        close(fd);
    }
    umount2(node.c_str(), MNT_DETACH);
    unlink(node.c_str());
    unlink((sys_root_ + "/class/tty/" + name).c_str());
    unlink((sys_root_ + "/bus/usb-serial/devices/" + name).c_str());
    const std::string port = port_dir(number);
    const std::string interface = port.substr(0, port.rfind('/'));
    remove_tree(sys_root_ + "/" + interface.substr(0, interface.rfind('/')));
}

std::string UsbMachine::latency_timer(int number) const
{
    std::ifstream in("/sys/" + port_dir(number) + "/latency_timer");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void UsbAdapterTest::SetUp()
{
    if (!unavailable_reason().empty())
        GTEST_SKIP() << unavailable_reason();
    usb = new UsbMachine;
    ASSERT_TRUE(usb->ok());
}

void UsbAdapterTest::TearDown()
{
    delete usb;
    usb = nullptr;
}

} // namespace hw
