<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CDesktopNotifier</name>
    <message>
        <source>收到文件</source>
        <translation>File received</translation>
    </message>
    <message>
        <source>收到 %1 个文件</source>
        <translation>%1 files received</translation>
    </message>
    <message>
        <source>收到文字</source>
        <translation>Text received</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>CMarlixApp</name>
    <message>
        <source>无法准备工作目录：</source>
        <translation>The working folder cannot be prepared: </translation>
    </message>
</context>
<context>
    <name>CMarlixDlg</name>
    <message>
        <source>不好意思，本版本不提供云端分享，稍后版本将开放！</source>
        <translation>Sorry, sharing through the cloud is not offered in this version yet.</translation>
    </message>
    <message>
        <source>外发链接已生成：</source>
        <translation>Link made: </translation>
    </message>
    <message>
        <source><byte value="xd"/>
<byte value="xd"/>
【Ctrl+V】直接粘贴到QQ等聊天窗口，可让朋友上传！</source>
        <translation><byte value="xd"/>
<byte value="xd"/>
Paste it (Ctrl+V) into a chat window so that a friend can upload.</translation>
    </message>
    <message>
        <source><byte value="xd"/>
<byte value="xd"/>
【Ctrl+V】直接粘贴到QQ等聊天窗口，可让朋友下载！</source>
        <translation><byte value="xd"/>
<byte value="xd"/>
Paste it (Ctrl+V) into a chat window so that a friend can download.</translation>
    </message>
    <message>
        <source>设置…</source>
        <translation>Settings...</translation>
    </message>
    <message>
        <source>拖放文件(夹)到此处</source>
        <translation>Drop files or folders here</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>局域网(高速)</source>
        <translation>LAN (fast)</translation>
    </message>
    <message>
        <source>外网直连(稍快)</source>
        <translation>Internet</translation>
    </message>
    <message>
        <source>云中转(慢速)</source>
        <translation>Relay (slow)</translation>
    </message>
    <message>
        <source>分享</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>上传</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>正在关闭软件，请稍后...</source>
        <translation>Closing, please wait...</translation>
    </message>
    <message>
        <source>将文件(夹)拖放到此处</source>
        <translation>Drop files or folders here</translation>
    </message>
    <message>
        <source>手机和电脑在同一个无线(WIFI)网络下请使用此方式</source>
        <translation>Use this when the phone and this computer share one Wi-Fi network</translation>
    </message>
    <message>
        <source>外网直连方式，传输速度由宽带的【上行速度】决定</source>
        <translation>Direct from the Internet: the speed is your line&apos;s upload speed</translation>
    </message>
    <message>
        <source>经云端中转，下完即删除，十分钟不下载，链接失效</source>
        <translation>Relayed: deleted once downloaded; the link expires after 10 idle minutes</translation>
    </message>
    <message>
        <source>正在进行端口映射，请稍后再试</source>
        <translation>The router port is being mapped, please try again shortly</translation>
    </message>
    <message>
        <source>目前暂时不支持手机通过云中转上传文件到电脑</source>
        <translation>Phones cannot upload to this computer through the cloud relay yet</translation>
    </message>
    <message>
        <source>扫描二维码，下载文件到手机</source>
        <translation>Scan the QR code to download to the phone</translation>
    </message>
    <message>
        <source>下载:</source>
        <translation>Download: </translation>
    </message>
    <message>
        <source>扫描二维码，从手机上传文件到电脑</source>
        <translation>Scan the QR code to upload from the phone</translation>
    </message>
    <message>
        <source>等待从手机上传文件...</source>
        <translation>Waiting for files from the phone...</translation>
    </message>
    <message>
        <source>正在进行端口映射（打通外网）<byte value="xd"/>
请稍等片刻...</source>
        <translation>Opening a port on the router<byte value="xd"/>
Please wait a moment...</translation>
    </message>
    <message>
        <source>外网已经打通，可正常使用!</source>
        <translation>The Internet path is open and ready!</translation>
    </message>
    <message>
        <source>手机访问的地址</source>
        <translation>Address for phones</translation>
    </message>
    <message>
        <source>文字超过 64 KB，无法分享</source>
        <translation>A text longer than 64 KiB cannot be shared</translation>
    </message>
    <message>
        <source>无法保存要分享的文字：</source>
        <translation>The text to share cannot be saved: </translation>
    </message>
    <message>
        <source>粘贴并分享</source>
        <translation>Paste and share</translation>
    </message>
    <message>
        <source>文字</source>
        <translation>text</translation>
    </message>
    <message>
        <source>正在上传: </source>
        <translation>Uploading: </translation>
    </message>
    <message>
        <source>正在压缩...</source>
        <translation>Compressing...</translation>
    </message>
    <message>
        <source>有 %1 项无法读取，未打包</source>
        <translation>%1 entries could not be read and were left out of the archive</translation>
    </message>
    <message>
        <source>无端口可用，程序无法运行！！！</source>
        <translation>No free port (8081 to 8091): the program cannot run.</translation>
    </message>
    <message>
        <source>外网直连方式不可用，可能路由器不支持端口映射</source>
        <translation>Direct Internet mode unavailable: the router may not support port mapping.</translation>
    </message>
    <message>
        <source>路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以</source>
        <translation>Behind another NAT: phones outside cannot reach this PC; use the relay.</translation>
    </message>
    <message>
        <source>未设置云中转服务器。请在右键菜单“设置…”中填写中转服务器地址。</source>
        <translation>No relay is set: enter its address under &quot;Settings...&quot; in the right-click menu.</translation>
    </message>
    <message>
        <source>目前不提供整个文件夹进行云端中转功能！</source>
        <translation>Whole folders cannot be relayed through the cloud.</translation>
    </message>
    <message>
        <source>不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！</source>
        <translation>Sorry: whole folders cannot be relayed through the cloud.</translation>
    </message>
    <message>
        <source>4 GiB 及以上的文件不能云端中转！</source>
        <translation>Files of 4 GiB or more cannot be relayed through the cloud.</translation>
    </message>
    <message>
        <source>不好意思，文件太大：云端中转只接受小于 4 GiB 的文件！</source>
        <translation>Sorry, the file is too large: the cloud relay takes only files under 4 GiB.</translation>
    </message>
    <message>
        <source>无法连接云中转服务器</source>
        <translation>cannot connect to the relay</translation>
    </message>
    <message>
        <source>无法验证云中转服务器的证书</source>
        <translation>the relay&apos;s certificate could not be verified</translation>
    </message>
    <message>
        <source>云中转服务器不在本地网络，且未加密：文件将以明文经过网络</source>
        <translation>The relay is not on the local network and not encrypted: the file will cross the network unencrypted.</translation>
    </message>
    <message>
        <source>云中转服务器没有回应</source>
        <translation>the relay did not answer</translation>
    </message>
    <message>
        <source>云中转上传失败：</source>
        <translation>The relay upload failed: </translation>
    </message>
    <message>
        <source>有新版本，请下载新版本</source>
        <translation>A new version is available: please download it.</translation>
    </message>
    <message>
        <source>停止分享并退出？</source>
        <translation>Stop sharing and quit?</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不再询问</source>
        <translation>Don&apos;t ask again</translation>
    </message>
    <message>
        <source>选择要分享的文件夹</source>
        <translation>Choose a folder to share</translation>
    </message>
    <message>
        <source>选择要分享的文件</source>
        <translation>Choose files to share</translation>
    </message>
    <message>
        <source><byte value="xd"/>
<byte value="xd"/>
此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方上传！</source>
        <translation><byte value="xd"/>
<byte value="xd"/>
This link works only on this local network: paste it (Ctrl+V) for someone on the same network to upload.</translation>
    </message>
    <message>
        <source><byte value="xd"/>
<byte value="xd"/>
此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方下载！</source>
        <translation><byte value="xd"/>
<byte value="xd"/>
This link works only on this local network: paste it (Ctrl+V) for someone on the same network to download.</translation>
    </message>
    <message>
        <source>打开文件…</source>
        <translation>Open files…</translation>
    </message>
    <message>
        <source>打开文件夹…</source>
        <translation>Open folder…</translation>
    </message>
    <message>
        <source>已分享的项目</source>
        <translation>Shared items</translation>
    </message>
    <message>
        <source>菜单</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>没有网络连接：请把本机连到手机所在的网络</source>
        <translation>No network connection: connect this PC to the phone&apos;s network</translation>
    </message>
    <message>
        <source>已改回局域网方式。路由器能映射端口后，再选一次“外网直连”即可重试。</source>
        <translation>Back to the local network. Once the router can map ports, choose “Internet” again to retry.</translation>
    </message>
    <message>
        <source>已分享 %1 项，正在显示：%2</source>
        <translation>%1 items shared; showing %2</translation>
    </message>
    <message>
        <source>端口 %1 已被其他程序占用，本次使用端口 %2。</source>
        <translation>Port %1 is taken by another program: this run uses port %2.</translation>
    </message>
</context>
<context>
    <name>CReceivedList</name>
    <message>
        <source>收到的文件</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>在文件夹中显示</source>
        <translation>Show in folder</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>文字：</source>
        <translation>Text: </translation>
    </message>
    <message>
        <source>%1 字</source>
        <translation>%1 characters</translation>
    </message>
</context>
<context>
    <name>CReceivedTextBox</name>
    <message>
        <source>手机发来的文字</source>
        <translation>Text from the phone</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>CSettingsDlg</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>由环境变量 MARLIX_SERVICE_HOST 指定</source>
        <translation>Set by the environment variable MARLIX_SERVICE_HOST</translation>
    </message>
    <message>
        <source>云中转服务器:</source>
        <translation>Relay server:</translation>
    </message>
    <message>
        <source>浏览…</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>工作目录</source>
        <translation>Working directory</translation>
    </message>
    <message>
        <source>由环境变量 MARLIX_HOME 指定</source>
        <translation>Set by the environment variable MARLIX_HOME</translation>
    </message>
    <message>
        <source>工作目录:</source>
        <translation>Working directory:</translation>
    </message>
    <message>
        <source>工作目录在下次启动时生效。</source>
        <translation>A new working directory applies from the next start.</translation>
    </message>
    <message>
        <source>中转服务器地址应为 主机[:端口]，可加 https:// 或 http://</source>
        <translation>The relay address must be HOST[:PORT], with https:// or http:// before it if need be</translation>
    </message>
    <message>
        <source>主机[:端口]，可加 https:// 或 http://，例如 https://relay.example.org。
留空则不使用云中转。</source>
        <translation>HOST[:PORT], with https:// or http:// before it if need be, for example https://relay.example.org.
Leave it empty for no cloud relay.</translation>
    </message>
    <message>
        <source>端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>只使用这个端口；留空则用 8081–8091 中第一个空闲的。下次启动时生效。</source>
        <translation>Only this port; empty: the first free one of 8081–8091. Applies from the next start.</translation>
    </message>
    <message>
        <source>端口应为 1 到 65535 之间的数，或留空</source>
        <translation>The port must be a number from 1 to 65535, or empty</translation>
    </message>
</context>
<context>
    <name>CPortOpeningWaitDlg</name>
    <message>
        <source>正在打通外网</source>
        <translation>Opening the Internet path</translation>
    </message>
    <message>
        <source>正在进行端口映射，打通外网<byte value="xd"/>
请稍等片刻...</source>
        <translation>Opening a port on the router for the Internet<byte value="xd"/>
Please wait a moment...</translation>
    </message>
</context>
</TS>
