#include "settings/TextTable.h"

#include <array>

namespace {

// "　" in a text is the ideographic space U+3000, part of the text.
constexpr std::array kTexts = std::to_array<TextEntry>({
    {"MainWnd", "MainCaption", "Orvane 光学 2019-2026"},
    {"MainWnd", "FILEPATH", "设置文件保存路径"},
    {"MainWnd", "EXIT", "退出"},
    {"MainWnd", "OPEN", "启动相机"},
    {"MainWnd", "PLAY", "播放"},
    {"MainWnd", "STOP", "静止"},
    {"MainWnd", "SNAP", "拍照"},
    {"MainWnd", "RECORD", "录像"},
    {"MainWnd", "HMIRROR", "水平镜像"},
    {"MainWnd", "VMIRROR", "垂直镜像"},
    {"MainWnd", "REMIRROR", "重置镜像"},
    {"MainWnd", "ZOOMIN", "放大"},
    {"MainWnd", "ZOOMOUT", "缩小"},
    {"MainWnd", "REZOOM", "重置缩放"},
    {"MainWnd", "RESOLUTION", "分辨率"},
    {"MainWnd", "FREQUENCY", "电源频率"},
    {"MainWnd", "CAMERA", "相机"},
    {"MainWnd", "PERPROTY", "相机属性"},
    {"MainWnd", "AUTOEXPOSURE", "自动曝光"},
    {"MainWnd", "MANUALEXPOSURE", "手动曝光"},
    {"MainWnd", "FOLDERTIPS", "请先设置工作目录1"},
    {"MainWnd", "FOLDER", "设置工作目录1"},
    {"MainWnd", "SAVEPARAM", "保存参数"},
    {"MainWnd", "RESTORE", "恢复参数"},
    {"MainWnd", "MOVE", "平移缩放"},
    {"MainWnd", "VERSION", "软件"},
    {"MainWnd", "STARTTIME", "开始时间"},
    {"MainWnd", "STOREINFO", "保存参数成功"},
    {"MainWnd", "RESTOREINFO", "参数恢复成功"},
    {"MainWnd", "FLASHFAILED", "相机参数存储写入失败"},
    {"MainWnd", "TIMELEN", "时长"},
    {"MainWnd", "NOCAMERAHINT", "未连接相机。请连接相机后按播放。"},
    {"MainWnd", "SNAPFAILED", "（保存失败）"},
    {"MainWnd", "RECORDFAILED", "录像已中止：写入失败"},
    {"MainWnd", "CAMERABUSYHINT", "相机 %1 正被其他程序使用。请关闭该程序后按播放。"},
    {"MainWnd", "NOPERMISSIONHINT",
     "没有打开 %1 的权限。请把用户加入 video 组（sudo usermod -aG video "
     "$USER），重新登录后按播放。"},
    {"MainWnd", "NOFORMATHINT", "相机 %1 没有本软件能显示的图像格式。"},
    {"MainWnd", "NOFRAMESHINT", "相机 %1 已有 5 秒没有送出图像。请按播放重新启动。"},
    {"Menu", "FILE", "文件"},
    {"Menu", "SETTING", "设置"},
    {"Menu", "CONTROL", "控制"},
    {"Menu", "ZOOM", "缩放"},
    {"Menu", "MIRROR", "镜像"},
    {"Menu", "ABOUT", "关于"},
    {"MENU", "CHINESE", "中文"},
    {"MENU", "ENGLISH", "英文"},
    {"MENU", "JAPANESE", "日文"},
    {"MENU", "LAN", "语言"},
    {"CameraProWnd", "MainCaption", "相机属性"},
    {"CameraProWnd", "BRIGHT", "亮度"},
    {"CameraProWnd", "CONTRAST", "对比度"},
    {"CameraProWnd", "HUE", "色调"},
    {"CameraProWnd", "SAT", "饱和度"},
    {"CameraProWnd", "SHARP", "清晰度"},
    {"CameraProWnd", "GAMMA", "伽玛"},
    {"CameraProWnd", "WB", "白平衡"},
    {"CameraProWnd", "EXPOSURE", "曝光"},
    {"CameraProWnd", "AUTO", "自动"},
    {"CameraProWnd", "GAIN", "增益"},
    {"CameraProWnd", "DEFAULT", "默认值"},
    {"CameraProWnd", "APPLY", "应用"},
    {"CameraProWnd", "OK", "确定"},
    {"CameraProWnd", "CANCEL", "取消"},
    {"MaskWnd", "MainCaption", "边缘罩"},
    {"MaskWnd", "MASKFRAME", "边缘罩控制"},
    {"MaskWnd", "MASKENABLE", "边缘罩　开启"},
    {"MaskWnd", "MASKZOOMIN", "大"},
    {"MaskWnd", "MASKZOOMOUT", "小"},
    {"MaskWnd", "CROSSFRAME", "准星控制"},
    {"MaskWnd", "CROSSENABLE", "准星　开启"},
    {"MaskWnd", "CROSSZOOMIN", "大"},
    {"MaskWnd", "CROSSZOOMOUT", "小"},
    {"MoveWnd", "MainCaption", "工厂设置"},
    {"MoveWnd", "MOVEFRAME", "平移"},
    {"MoveWnd", "UPDOWN", "上下移动"},
    {"MoveWnd", "LEFTRIGHT", "左右移动"},
    {"MoveWnd", "MASKRESET", "重置"},
    {"MoveWnd", "ZOOMFRAME", "缩放"},
    {"MoveWnd", "FACTOR", "比例"},
    {"MoveWnd", "ZOOMIN", "放大"},
    {"MoveWnd", "ZOOMOUT", "缩小"},
    {"MoveWnd", "FACTORRESET", "重置"},
    {"AboutWnd", "MainCaption", "关于软件"},
    {"AboutWnd", "SOFTNAME", "Tavrel 显微相机软件　V1.0版"},
    {"AboutWnd", "CPYRIGHT", "版权所有 (C) 2019-2026 Orvane 光学。保留所有权利。"},
    {"AboutWnd", "LAN", "语言"},
    {"WndMessage", "NOHARDWARE", "没有找到硬件设备"},
    {"WndMessage", "NOSUPPORT", "没有找到支持的硬件设备"},
    {"WndMessage", "NOOPENSOURCE", "错误：不能打开视频源！"},
    {"WndMessage", "NOCREATESOURCE", "错误：创建视频源组件失败！"},
    {"WndMessage", "SETSOURCEERR", "错误：设置视频源组件失败！"},
    {"WndMessage", "NOCREATEGRABBER", "错误：创建采集组件失败！"},
    {"WndMessage", "NOCREATERENDER", "错误：创建渲染组件失败！"},
    {"WndMessage", "NOFINDINTERFACE", "错误：采集组件找不到该接口！"},
    {"WndMessage", "NORENDER", "错误：添加渲染组件失败！"},
    {"WndMessage", "NOSOURCE", "错误：添加视频源组件失败！"},
    {"WndMessage", "NOPREVIEW", "不能预览!"},
    {"WndMessage", "CONNOTPREVIEW", "不可以预览图像"},
    {"WndMessage", "NOSTOPPREVIEW", "不能停止预览"},
    {"WndMessage", "NOVIDEO", "视频创建失败"},
    {"ColorNames", "RED", "红"},
    {"ColorNames", "YELLOW", "黄"},
    {"ColorNames", "GREEN", "绿"},
    {"ColorNames", "BLACK", "黑"},
    {"ColorNames", "BLUE", "蓝"},
    {"ColorNames", "WHITE", "白"},
    {"ColorNames", "OTHER", "其他…"},
});

}  // namespace

std::span<const TextEntry> BuiltInTexts() {
    return kTexts;
}

QString BuiltInDefault(QStringView section, QStringView key) {
    for (const TextEntry& entry : kTexts) {
        if (section.compare(QLatin1String(entry.section), Qt::CaseInsensitive) == 0 &&
            key.compare(QLatin1String(entry.key), Qt::CaseInsensitive) == 0) {
            return QString::fromUtf8(entry.chineseDefault);
        }
    }
    return QString();
}
