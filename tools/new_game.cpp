// The starter game. Its sources obey the page rules the linter checks (a page that [ct] ends has
// one comment line fewer than text lines), so it lints clean and plays as it is.
#include "tools/new_game.h"

#include <filesystem>
#include <system_error>

#include "base/places.h"
#include "script/scenario_text.h"

namespace fs = std::filesystem;

const std::string_view kStarterScenario0 =
    R"starter(;はじめてのゲーム（ブロック０）。ゲームはいつもこのファイルの頭から始まる。；で始まる行はコメント
;［playbgm 1］は曲のスロット１を流し、［image 0 layer=base left=0 top=0］は背景０を出す
[playbgm 1][image 0 layer=base left=0 top=0]雨の坂道を、ひとりで歩いていた。
[image 0 layer=0 left=120 top=30]「こんにちは。どこへ行くの？」
[playse 50]どこかで、扉の開く音がした。
[ct];［ct］は文字を消して次のページを始める。前のページは三行なので、コメントを二行おいた
;［image 0 layer=0 …］は立ち絵０をレイヤー０の左１２０、上３０に置き、［playse 50］は効果音５０を鳴らす
;［link target=*名前］から［endlink］までが選択肢のひとつ。一行にひとつ、十まで書ける
;［s］は選択肢がクリックされるのを待つ。行く先のラベルは、いまのブロックから探す
[image 2 layer=base left=0 top=0]古い図書館の前に来た。どうしよう？
[link target=*hairu]中に入ってみる[endlink]
[link target=*kaeru]家に帰る[endlink]
[s]
*hairu|
;ラベルの行。名前のあとの｜はチェックポイントの印で、ここに着くとつづきの場所を書きのこす
;［l］は行の途中のクリック待ち。行の終わりはどれもクリック待ちになる
[image 1 layer=base left=0 top=0]中は、しんと静かだった。[l]本のにおいがする。
;［jump 1 target=*owari］は、ブロック１（end1.txt）のラベル *owari へ進む
[jump 1 target=*owari]
*kaeru
;［stopbgm］は曲と効果音をみな消す。立ち絵は left=900 で画面の外へ出す
[stopbgm][image 0 layer=0 left=900 top=30]家に帰って、あたたかいお茶を飲んだ。
[jump 1 target=*owari]
)starter";

const std::string_view kStarterEnd1 =
    R"starter(;結末のファイル（ブロック１）。ここにはジャンプでだけ入る
*owari
;［playse 51］は効果音５１を鳴らす。［reset］はゲームを終えて、タイトルにもどる
[image 6 layer=base left=0 top=0][playse 51]雨はやんで、朝になった。おしまい。
[reset]
)starter";

std::string starterAssetsFolder() {
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        // In a build tree the tool sits in tools/ and the demo is made in demo/game.
        const fs::path built = program.parent_path().parent_path() / "demo" / "game";
        if (fs::is_directory(built / "CG", ec) && fs::is_directory(built / "Sound", ec))
            return built.string();
    }
    return installedDemoFolder();
}

int makeStarterGame(const std::string& dir, const std::string& assets, std::FILE* err) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(dir, ec))) {
        if (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec)) {
            std::fprintf(err, "tolvane-script: %s exists and is not an empty folder\n",
                         dir.c_str());
            return 2;
        }
    }
    if (assets.empty()) {
        std::fprintf(err, "tolvane-script: no demo game found to take the pictures and sounds "
                          "from\n");
        return 2;
    }
    const fs::path root(dir);
    for (const char* sub : {"CG", "Sound", "Scenario"}) {
        fs::create_directories(root / sub, ec);
        if (ec) {
            std::fprintf(err, "tolvane-script: cannot make %s: %s\n", (root / sub).c_str(),
                         ec.message().c_str());
            return 2;
        }
    }
    // Only the files the game loads: the demo's own scenario stays out of the new game.
    for (const char* sub : {"CG", "Sound"}) {
        for (const fs::directory_entry& e : fs::directory_iterator(fs::path(assets) / sub, ec)) {
            if (!e.is_regular_file()) continue;
            fs::copy_file(e.path(), root / sub / e.path().filename(), ec);
            if (ec) {
                std::fprintf(err, "tolvane-script: cannot copy %s: %s\n", e.path().c_str(),
                             ec.message().c_str());
                return 2;
            }
        }
        if (ec) {
            std::fprintf(err, "tolvane-script: cannot read %s: %s\n",
                         (fs::path(assets) / sub).c_str(), ec.message().c_str());
            return 2;
        }
    }
    for (const auto& [name, text] :
         {std::pair{"scenario0.txt", kStarterScenario0}, std::pair{"end1.txt", kStarterEnd1}}) {
        const fs::path path = root / "Scenario" / name;
        if (!writeWholeFile(path.string(), text)) {
            std::fprintf(err, "tolvane-script: cannot write %s\n", path.c_str());
            return 2;
        }
    }
    return 0;
}
