// Internal to the tests: a generator of real-looking Chinese text, pages
// of a manual in simplified or traditional characters drawn as often as
// they are written, with English mixed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tallyfold::test {

// The commonest simplified characters, most frequent first, and below
// them, one for one, the same characters as traditional text writes them.
inline constexpr char16_t kSimplifiedByFrequency[] =
    u"的一是不了在人有我他这个们中来上大为和国地到以说时要就出会可也你对生能而子那得于着下自之年过发后作里"
    u"用道行所然家种事成方多经么去法学如都同现当没动面起看定天分还进好小部其些主样理心她本前开但因只从想实"
    u"日军者意无力它与长把机十民第公此已工使情明性知全三又关点正业外将两高间由问很最重并物手应战向头文体政"
    u"美相见被利什二等产或新己制身果加西斯月话合回特代内信表化老给世位次度门任常先海通教儿原东声提立及比员"
    u"解水名真论处走义各入几口认条平系气题活尔更别打女变四神总何电数安少报才结反受目太量再感建务做接必场件"
    u"计管期市直德资命山金指克许统区保至队形社便空决治展马科司五基眼书非则听白却界达光放强即像难且权思王象"
    u"完设式色路记南品住告类求据程北边死张该交规万取拉格望觉术领共确传师观清今切院让识候带导争运笑飞风步改"
    u"收根干造言联持组每济车亲极林服快办议往元英士证近失转夫令准布始怎呢存未远叫台单影具罗字爱击流备兵连调"
    u"深商算质团集百需价花党华城石级整府离况亚请技际约示复病息究线似官火断精满支视消越器容照须九增研写称企"
    u"八功吗包片史委乎查轻易早曾除农找装广显吧阿李标谈吃图念六引历首医局突专费号尽另周较注语仅考落青随选列"
    u"武红响虽推势参希古众构房半节土投某案黑维革划敌致陈律足态护七兴派孩验责营星够章音跟志底站严巴例防族供"
    u"效续施留讲型料终答紧黄绝奇察母京段依批群项故按河米围江织害斗双境客纪采举杀攻父苏密低朝友诉止细愿千值"
    u"仍男钱破网热助倒育属坐帝限船脸职速刻乐否刚威毛状率甚独球般普怕弹校苦创假久错承印晚兰试股拿脑预谁益阳"
    u"若哪微尼继送急血惊伤素药适波夜省初喜卫源食险待述陆习置居劳财环排福纳欢雷警获模充负云停木游龙树疑层冷"
    u"洲冲射略范竟句室异激汉村哈策演简卡罪判担州静退既衣您宗积余痛检差富灵协角占配征修皮挥胜降阶审沉坚善妈"
    u"刘读啊超免压银买皇养伊怀执副乱抗犯追帮宣佛岁航优怪香著田铁控税左右份穿艺背阵草脚概恶块顿敢守酒岛托央"
    u"户烈洋哥索胡款靠评版宝座释景顾弟登货互付伯慢欧换闻危忙核暗姐介坏讨丽良序升监临亮露永呼味野架域沙掉括"
    u"舰鱼杂误湾吉减编楚肯测败屋跑梦散温困剑渐封救贵枪缺楼县尚毫移娘朋画班智亦耳恩短掌恐遗固席松秘谢鲁遇康"
    u"虑幸均销钟诗藏赶剧票损忽巨炮旧端探湖录叶春乡附吸予礼港雨呀板庭妇归睛饭额含顺输摇招婚脱补谓督毒油疗旅"
    u"泽材灭逐莫笔亡鲜词圣择寻厂睡博勒烟授诺伦岸奥唐卖俄炸载洛健堂旁宫喝借君禁阴园谋宋避抓荣姑孙逃牙束跳顶"
    u"玉镇雪午练迫爷篇肉嘴馆遍凡础洞卷坦牛宁纸诸训私庄祖丝翻暴森塔默握戏隐熟骨访弱蒙歌店鬼软典欲萨伙遭盘爸"
    u"扩盖弄雄稳忘亿刺拥徒姆杨齐赛趣曲刀床迎冰虚玩析窗醒妻透购替塞努休虎扬途侵刑绿兄迅套贸毕唯谷轮库迹尤竞"
    u"街促延震弃甲伟麻川申缓潜闪售灯针哲络抵朱埃抱鼓植纯夏忍页杰筑折郑贝尊吴秀混臣雅振染盛怒舞圆搞狂措姓残"
    u"秋培迷诚宽宇猛摆梅毁伸摩盟末乃悲拍丁赵硬麦蒋操耶阻订彩抽赞魔纷沿喊违妹浪汇币丰蓝殊献桌啦瓦莱援译夺汽"
    u"烧距裁偏符勇触课敬哭懂墙袭召罚侠厅拜巧侧韩冒债曼融惯享戴童犹乘挂奖绍厚纵障讯涉彻刊丈爆乌役描洗玛患妙"
    u"镜唱烦签仙彼弗症仿倾牌陷鸟轰咱菜闭奋庆撤泪茶疾缘播朗杜奶季丹狗尾仪偷奔珠虫驻孔宜艾桥淡翼恨繁寒伴叹旦"
    u"愈潮粮缩罢聚径恰挑袋灰捕徐珍幕映裂泰隔启尖忠累炎暂估泛荒偿横拒瑞忆孤鼻闹羊呆厉衡胞零穷舍码赫婆魂灾洪"
    u"腿胆津俗辩胸晓劲贫仁偶辑邦恢赖圈摸仰润堆碰艇稍迟辆废净凶署壁御奉旋冬矿抬蛋晨伏吹鸡倍糊秦盾杯租骑乏隆"
    u"诊奴摄丧污渡旗甘耐凭扎抢绪粗肩梁幻菲皆碎宙叔岩荡综爬荷悉蒂返井壮薄悄扫敏碍殖详迪矛霍允幅撒剩凯颗骂赏"
    u"液番箱贴漫酸郎腰舒眉忧浮辛恋餐吓挺励辞艘键伍峰尺昨黎辈贯侦滑券崇扰宪绕趋慈乔阅汗枝拖墨胁插箭腊粉泥氏"
    u"彭拔骗凤慧媒佩愤扑龄驱惜豪掩兼跃尸肃帕驶堡届欣惠册储飘桑闲惨洁踪勃宾频仇磨递邪撞拟滚奏巡颜剂绩贡疯坡"
    u"瞧截燃焦殿伪柳锁逼颇昏劝呈搜勤戒驾漂饮曹朵仔柔俩孟腐幼践籍牧凉牲佳娜浓芳稿竹腹跌逻垂遵脉貌柏狱猜怜惑"
    u"陶兽帐饰贷昌叙躺钢沟寄扶铺邓寿惧询汤盗肥尝匆辉奈扣廷澳嘛董迁凝慰厌脏腾幽怨鞋丢埋泉涌辖躲晋紫艰魏吾慌"
    u"祝邮吐狠鉴曰械咬邻赤挤弯椅陪割揭韦悟聪雾锋梯猫祥阔誉筹丛牵鸣沈阁穆屈旨袖猎臂蛇贺柱抛鼠瑟戈牢逊迈欺吨"
    u"琴衰瓶恼燕仲诱狼池疼卢仗冠粒遥吕玄尘冯抚浅敦纠钻晶岂峡苍喷耗凌敲菌赔涂粹扁亏寂煤熊恭湿循暖糖赋抑秩帽"
    u"哀宿踏烂袁侯抖夹昆肝擦猪炼恒慎搬纽纹玻渔磁铜齿跨押怖漠疲叛遣兹祭醉拳弥斜档稀捷肤疫肿豆削岗晃吞宏癌肚"
    u"隶履涨耀扭坛拨沃绘伐堪仆郭牺歼墓雇廉契拼惩捉覆刷劫嫌瓜歇雕闷乳串娃缴唤赢莲霸桃妥瘦搭赴岳嘉舱俊址庞耕"
    u"锐缝悔邀玲惟斥宅添挖呵讼氧浩羽斤酷掠妖祸侍乙妨贪挣汪尿莉悬唇翰仓轨枚盐览傅帅庙芬屏寺胖璃愚滴疏萧姿颤"
    u"丑劣柯寸扔盯辱匹俱辨饿蜂哦腔郁溃谨糟葛苗肠忌溜鸿爵鹏鹰笼丘桂滋聊挡纲肌茨壳痕碗穴膀卓贤卧膜毅锦欠哩函"
    u"茫昂薛皱夸豫胃舌剥傲拾窝睁携陵哼棉晴铃填饲渴吻扮逆脆喘罩卜炉柴愉绳胎蓄眠竭喂傻慕浑奸扇柜悦拦诞饱乾泡"
    u"贼亭夕爹酬儒姻卵氛泄杆挨僧蜜吟猩遂狭肖甜霜揉泳匙吊诈贩疆酱蝶掏鞭婴彦瞬抹诏";
inline constexpr char16_t kTraditionalByFrequency[] =
    u"的一是不了在人有我他這個們中來上大為和國地到以說時要就出會可也你對生能而子那得於著下自之年過發後作裡"
    u"用道行所然家種事成方多經麼去法學如都同現當沒動面起看定天分還進好小部其些主樣理心她本前開但因只從想實"
    u"日軍者意無力它與長把機十民第公此已工使情明性知全三又關點正業外將兩高間由問很最重並物手應戰向頭文體政"
    u"美相見被利什二等產或新己製身果加西斯月話合回特代內信表化老給世位次度門任常先海通教兒原東聲提立及比員"
    u"解水名真論處走義各入幾口認條平系氣題活爾更別打女變四神總何電數安少報才結反受目太量再感建務做接必場件"
    u"計管期市直德資命山金指克許統區保至隊形社便空決治展馬科司五基眼書非則聽白卻界達光放強即像難且權思王象"
    u"完設式色路記南品住告類求據程北邊死張該交規萬取拉格望覺術領共確傳師觀清今切院讓識候帶導爭運笑飛風步改"
    u"收根乾造言聯持組每濟車親極林服快辦議往元英士證近失轉夫令準布始怎呢存未遠叫台單影具羅字愛擊流備兵連調"
    u"深商算質團集百需價花黨華城石級整府離況亞請技際約示復病息究線似官火斷精滿支視消越器容照須九增研寫稱企"
    u"八功嗎包片史委乎查輕易早曾除農找裝廣顯吧阿李標談吃圖念六引歷首醫局突專費號盡另周較注語僅考落青隨選列"
    u"武紅響雖推勢參希古眾構房半節土投某案黑維革劃敵致陳律足態護七興派孩驗責營星夠章音跟志底站嚴巴例防族供"
    u"效續施留講型料終答緊黃絕奇察母京段依批群項故按河米圍江織害鬥雙境客紀採舉殺攻父蘇密低朝友訴止細願千值"
    u"仍男錢破網熱助倒育屬坐帝限船臉職速刻樂否剛威毛狀率甚獨球般普怕彈校苦創假久錯承印晚蘭試股拿腦預誰益陽"
    u"若哪微尼繼送急血驚傷素藥適波夜省初喜衛源食險待述陸習置居勞財環排福納歡雷警獲模充負雲停木游龍樹疑層冷"
    u"洲衝射略範竟句室異激漢村哈策演簡卡罪判擔州靜退既衣您宗積餘痛檢差富靈協角佔配征修皮揮勝降階審沉堅善媽"
    u"劉讀啊超免壓銀買皇養伊懷執副亂抗犯追幫宣佛歲航優怪香著田鐵控稅左右份穿藝背陣草腳概惡塊頓敢守酒島托央"
    u"戶烈洋哥索胡款靠評版寶座釋景顧弟登貨互付伯慢歐換聞危忙核暗姐介壞討麗良序升監臨亮露永呼味野架域沙掉括"
    u"艦魚雜誤灣吉減編楚肯測敗屋跑夢散溫困劍漸封救貴槍缺樓縣尚毫移娘朋畫班智亦耳恩短掌恐遺固席松秘謝魯遇康"
    u"慮幸均銷鐘詩藏趕劇票損忽巨炮舊端探湖錄葉春鄉附吸予禮港雨呀板庭婦歸睛飯額含順輸搖招婚脫補謂督毒油療旅"
    u"澤材滅逐莫筆亡鮮詞聖擇尋廠睡博勒煙授諾倫岸奧唐賣俄炸載洛健堂旁宮喝借君禁陰園謀宋避抓榮姑孫逃牙束跳頂"
    u"玉鎮雪午練迫爺篇肉嘴館遍凡礎洞卷坦牛寧紙諸訓私莊祖絲翻暴森塔默握戲隱熟骨訪弱蒙歌店鬼軟典欲薩夥遭盤爸"
    u"擴蓋弄雄穩忘億刺擁徒姆楊齊賽趣曲刀床迎冰虛玩析窗醒妻透購替塞努休虎揚途侵刑綠兄迅套貿畢唯谷輪庫跡尤競"
    u"街促延震棄甲偉麻川申緩潛閃售燈針哲絡抵朱埃抱鼓植純夏忍頁傑築折鄭貝尊吳秀混臣雅振染盛怒舞圓搞狂措姓殘"
    u"秋培迷誠寬宇猛擺梅毀伸摩盟末乃悲拍丁趙硬麥蔣操耶阻訂彩抽贊魔紛沿喊違妹浪匯幣豐藍殊獻桌啦瓦萊援譯奪汽"
    u"燒距裁偏符勇觸課敬哭懂牆襲召罰俠廳拜巧側韓冒債曼融慣享戴童猶乘掛獎紹厚縱障訊涉徹刊丈爆烏役描洗瑪患妙"
    u"鏡唱煩簽仙彼弗症仿傾牌陷鳥轟咱菜閉奮慶撤淚茶疾緣播朗杜奶季丹狗尾儀偷奔珠蟲駐孔宜艾橋淡翼恨繁寒伴嘆旦"
    u"愈潮糧縮罷聚徑恰挑袋灰捕徐珍幕映裂泰隔啟尖忠累炎暫估泛荒償橫拒瑞憶孤鼻鬧羊呆厲衡胞零窮舍碼赫婆魂災洪"
    u"腿膽津俗辯胸曉勁貧仁偶輯邦恢賴圈摸仰潤堆碰艇稍遲輛廢淨兇署壁禦奉旋冬礦抬蛋晨伏吹雞倍糊秦盾杯租騎乏隆"
    u"診奴攝喪污渡旗甘耐憑扎搶緒粗肩梁幻菲皆碎宙叔岩蕩綜爬荷悉蒂返井壯薄悄掃敏礙殖詳迪矛霍允幅撒剩凱顆罵賞"
    u"液番箱貼漫酸郎腰舒眉憂浮辛戀餐嚇挺勵辭艘鍵伍峰尺昨黎輩貫偵滑券崇擾憲繞趨慈喬閱汗枝拖墨脅插箭臘粉泥氏"
    u"彭拔騙鳳慧媒佩憤撲齡驅惜豪掩兼躍屍肅帕駛堡屆欣惠冊儲飄桑閒慘潔蹤勃賓頻仇磨遞邪撞擬滾奏巡顏劑績貢瘋坡"
    u"瞧截燃焦殿偽柳鎖逼頗昏勸呈搜勤戒駕漂飲曹朵仔柔倆孟腐幼踐籍牧涼牲佳娜濃芳稿竹腹跌邏垂遵脈貌柏獄猜憐惑"
    u"陶獸帳飾貸昌敘躺鋼溝寄扶鋪鄧壽懼詢湯盜肥嘗匆輝奈扣廷澳嘛董遷凝慰厭髒騰幽怨鞋丟埋泉湧轄躲晉紫艱魏吾慌"
    u"祝郵吐狠鑑曰械咬鄰赤擠彎椅陪割揭韋悟聰霧鋒梯貓祥闊譽籌叢牽鳴沈閣穆屈旨袖獵臂蛇賀柱拋鼠瑟戈牢遜邁欺噸"
    u"琴衰瓶惱燕仲誘狼池疼盧仗冠粒遙呂玄塵馮撫淺敦糾鑽晶豈峽蒼噴耗凌敲菌賠塗粹扁虧寂煤熊恭濕循暖糖賦抑秩帽"
    u"哀宿踏爛袁侯抖夾昆肝擦豬煉恆慎搬紐紋玻漁磁銅齒跨押怖漠疲叛遣茲祭醉拳彌斜檔稀捷膚疫腫豆削崗晃吞宏癌肚"
    u"隸履漲耀扭壇撥沃繪伐堪僕郭犧殲墓僱廉契拼懲捉覆刷劫嫌瓜歇雕悶乳串娃繳喚贏蓮霸桃妥瘦搭赴岳嘉艙俊址龐耕"
    u"銳縫悔邀玲惟斥宅添挖呵訟氧浩羽斤酷掠妖禍侍乙妨貪掙汪尿莉懸唇翰倉軌枚鹽覽傅帥廟芬屏寺胖璃愚滴疏蕭姿顫"
    u"醜劣柯寸扔盯辱匹俱辨餓蜂哦腔鬱潰謹糟葛苗腸忌溜鴻爵鵬鷹籠丘桂滋聊擋綱肌茨殼痕碗穴膀卓賢臥膜毅錦欠哩函"
    u"茫昂薛皺誇豫胃舌剝傲拾窩睜攜陵哼棉晴鈴填飼渴吻扮逆脆喘罩卜爐柴愉繩胎蓄眠竭餵傻慕渾奸扇櫃悅攔誕飽乾泡"
    u"賊亭夕爹酬儒姻卵氛洩桿挨僧蜜吟猩遂狹肖甜霜揉泳匙吊詐販疆醬蝶掏鞭嬰彥瞬抹詔";

// Common words, simplified; their traditional forms are made character by
// character from the lists above.
inline constexpr const char16_t* kCommonWords[] = {
    u"我们", u"他们", u"中国", u"时间", u"没有", u"什么", u"自己", u"一个", u"这个", u"可以",
    u"就是", u"因为", u"所以", u"但是", u"如果", u"已经", u"现在", u"知道", u"问题", u"工作",
    u"发展", u"社会", u"国家", u"经济", u"政府", u"企业", u"市场", u"技术", u"文化", u"历史",
    u"世界", u"生活", u"学生", u"老师", u"学校", u"孩子", u"朋友", u"家庭", u"城市", u"人民",
    u"系统", u"文件", u"程序", u"命令", u"选项", u"参数", u"用户", u"目录", u"输出", u"输入",
    u"默认", u"设置", u"显示", u"使用", u"需要", u"进行", u"可能", u"其他", u"通过", u"方法",
    u"内容", u"信息", u"数据", u"网络", u"服务", u"管理", u"处理", u"支持", u"功能", u"版本",
    u"配置", u"错误", u"帮助", u"手册", u"说明", u"格式", u"字符", u"文本", u"搜索", u"结果",
    u"报告", u"时候", u"地方", u"事情", u"东西", u"觉得", u"开始", u"出来", u"起来", u"看到",
    u"已经", u"一些", u"还是", u"只是", u"然后", u"这样", u"那么", u"一样", u"非常", u"应该",
    u"能够", u"必须", u"不同", u"同时", u"之后", u"以后", u"以前", u"关于", u"对于", u"之间",
    u"其中", u"所有", u"每个", u"这些", u"那些", u"第一", u"最后", u"重要", u"主要", u"一般",
    u"特别", u"可能性", u"标准", u"指定", u"创建", u"修改", u"打开", u"关闭", u"执行",
    u"运行", u"返回", u"成功", u"失败", u"名称", u"描述", u"概述", u"作者", u"参见", u"示例",
    u"环境", u"变量",};

// English as manual pages hold it: command names, options, words.
inline constexpr const char16_t* kEnglishWords[] = {
    u"ls", u"grep", u"-a", u"--all", u"--help", u"-n", u"FILE", u"PATTERN", u"UTF-8",
    u"GNU", u"Linux", u"shell", u"bash", u"/etc/passwd", u"stdin", u"stdout", u"root",
    u"the", u"file", u"and", u"of", u"to", u"is", u"2.38", u"1", u"0", u"man", u"info",
    u"Free", u"Software", u"Foundation", u"POSIX", u"[OPTION]...", u"<Enter>"};

// Pages of a manual: a title, section heads, paragraphs of sentences of
// words and characters with the punctuation Chinese uses, options in ASCII,
// lines wrapped at manual widths. The same seed gives the same pages.
class ChineseText {
 public:
  explicit ChineseText(std::uint32_t seed) : random_(seed) {}

  // A page of about `characters` Chinese characters (at least one), in
  // traditional characters when `traditional`; `english` is the share of
  // tokens that are English words.
  std::u16string Page(bool traditional, std::size_t characters, double english = 0.08) {
    std::u16string page;
    std::size_t written = 0;
    std::size_t line = 0;   // characters on the current line, as wide
    std::size_t width = Uniform(30, 70);
    std::size_t clause = 0;
    if (Chance(0.5)) {
      page += Upper(Pick(kEnglishWords)) + u"(1)    " + Token(traditional, written) + u"\n\n";
    }
    while (written < characters) {
      std::u16string token;
      if (Chance(english)) {
        token = std::u16string(u" ") + Pick(kEnglishWords) + u" ";
      } else {
        token = Token(traditional, written);
      }
      page += token;
      line += token.size() * 2;
      if (++clause >= Uniform(4, 12)) {
        clause = 0;
        const char16_t* marks[] = {u"，", u"，", u"，", u"。", u"、", u"；", u"：", u"？", u"！"};
        page += Pick(marks);
        line += 2;
      }
      if (line >= width * 2) {
        page += Chance(0.3) ? u"\r\n" : u"\n";
        if (Chance(0.15)) page += u"\n       " + std::u16string(Pick(kEnglishWords)) + u", --" + Pick(kEnglishWords) + u"\n";
        line = 0;
        width = Uniform(30, 70);
      }
    }
    page += u"。\n";
    return page;
  }

  std::size_t Uniform(std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(random_);
  }
  bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
  std::mt19937& Random() { return random_; }

 private:
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Uniform(0, N - 1)];
  }

  static std::u16string Upper(std::u16string_view word) {
    std::u16string upper(word);
    for (char16_t& unit : upper)
      if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
    return upper;
  }

  // A character by how often it is written: Zipf over the list, so the
  // first few hundred make up most of the text.
  std::size_t Rank() {
    static const std::vector<double> weights = [] {
      std::vector<double> w(std::u16string_view(kSimplifiedByFrequency).size());
      for (std::size_t i = 0; i < w.size(); ++i) w[i] = 1.0 / static_cast<double>(i + 8);
      return w;
    }();
    return std::discrete_distribution<std::size_t>(weights.begin(), weights.end())(random_);
  }

  static char16_t Traditional(char16_t simplified) {
    const std::u16string_view from(kSimplifiedByFrequency);
    const std::size_t at = from.find(simplified);
    return at == std::u16string_view::npos ? simplified : kTraditionalByFrequency[at];
  }

  // A word (two in five tokens) or a character; `written` counts them.
  std::u16string Token(bool traditional, std::size_t& written) {
    std::u16string token;
    if (Chance(0.4)) {
      // The commoner words first: a word's rank by a Zipf draw of its own.
      const std::size_t count = std::size(kCommonWords);
      const std::size_t at = std::min(count - 1, Rank() * count / 600);
      token = kCommonWords[at];
    } else {
      token = std::u16string(1, kSimplifiedByFrequency[Rank()]);
    }
    if (traditional)
      for (char16_t& unit : token) unit = Traditional(unit);
    written += token.size();
    return token;
  }

  std::mt19937 random_;
};

}  // namespace tallyfold::test
